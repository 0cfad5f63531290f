#include "Orvane/Orvane.h"

#include <gtest/gtest.h>

#include <memory>

#include "Host/ComCtrls.h"
#include "Host/Font.h"
#include "Host/FormFile.h"
#include "Host/Forms.h"
#include "Host/Published.h"
#include "Host/StdCtrls.h"
#include "Orvane/WebDlProgress.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"

namespace {

// Reaches the state that only a successful page read sets.
class TOrvaneProbe : public TOrvane {
 public:
  using TOrvane::TOrvane;
  void MarkActive() { FActive = true; }
};

}  // namespace

TEST(Orvane, StartsWithTheDocumentedDefaults) {
  TOrvane o(nullptr);
  EXPECT_FALSE(o.Active());
  EXPECT_EQ(o.Options().ToBits(), 0x1E);
  EXPECT_EQ(o.ProxyPort(), 80);
  EXPECT_TRUE(o.UIOwnerFont());
  EXPECT_EQ(o.VersionFormat(), orvvBuildNumber);
  EXPECT_EQ(o.DateFormat(), orvdZelDate);
  EXPECT_EQ(o.ProductDate(), 0.0);
  const TOrvTags& t = *o.InfoTags();
  for (const std::string* tag :
       {&t.AuthorTag(), &t.DateTag(), &t.DownloadTag(), &t.ProductNameTag(), &t.ReadMeTag(),
        &t.ReadMeExtTag(), &t.RedirectTag(), &t.RunParamsTag(), &t.VersionTag()})
    EXPECT_TRUE(tag->empty());
  // The entries of a signed page are found without being named.
  EXPECT_EQ(
      (std::vector<std::string>{t.SizeTag(), t.SHA256Tag(), t.ExpiresTag(), t.SignatureTag()}),
      (std::vector<std::string>{"Size", "SHA256", "Expires", "Signature"}));
  EXPECT_TRUE(o.PublicKey().empty());
  EXPECT_FALSE(o.RequireSignature());
  EXPECT_TRUE(o.HomeURL().empty());
  EXPECT_TRUE(o.CurrentVersion().empty());
  EXPECT_NE(o.UIFont(), nullptr);
  EXPECT_FALSE(o.OnDownloadProgress);
}

TEST(Orvane, HomeUrlTakesOnlyLowerCaseHttpOrHttpsAndThenReadsThePageAnew) {
  TOrvaneProbe o(nullptr);
  o.SetURL("http://server/info.htm");
  EXPECT_EQ(o.HomeURL(), "http://server/info.htm");
  o.MarkActive();
  for (const char* refused :
       {"HTTPS://server/x", "HTTP://server/x", "", "http:/", "https:/x", "ftp://x"}) {
    o.SetURL(refused);
    EXPECT_EQ(o.HomeURL(), "http://server/info.htm") << refused;
    EXPECT_TRUE(o.Active()) << refused;
  }
  o.SetURL("http://server/info.htm");  // the same address again still clears Active
  EXPECT_FALSE(o.Active());
  o.SetURL("http://");
  EXPECT_EQ(o.HomeURL(), "http://");
  o.MarkActive();
  o.SetURL("https://server/info.htm");
  EXPECT_EQ(o.HomeURL(), "https://server/info.htm");
  EXPECT_FALSE(o.Active());
}

TEST(Orvane, ActiveOnlyFallsAndOptionsKeepDisplayUI) {
  TOrvaneProbe o(nullptr);
  o.SetActive(true);
  EXPECT_FALSE(o.Active());
  o.MarkActive();
  o.SetActive(false);
  EXPECT_FALSE(o.Active());

  o.SetOptions({});
  EXPECT_EQ(o.Options(), TOrvOptions{orvoDisplayUI});
  o.SetOptions({orvoAlwaysOverwrite, orvoRunUpdate});
  EXPECT_EQ(o.Options().ToBits(), 0x0B);
}

TEST(Orvane, InfoTagsAreCopiedNotTaken) {
  TOrvane o(nullptr);
  TOrvTags tags;
  tags.SetVersionTag("Version");
  tags.SetRedirectTag("Next");
  TOrvTags* held = o.InfoTags();
  o.SetInfoTags(&tags);
  EXPECT_EQ(o.InfoTags(), held);
  EXPECT_EQ(o.InfoTags()->VersionTag(), "Version");
  EXPECT_EQ(o.InfoTags()->RedirectTag(), "Next");
  tags.SetVersionTag("Changed");
  EXPECT_EQ(o.InfoTags()->VersionTag(), "Version");
  EXPECT_THROW(o.SetInfoTags(nullptr), EConvertError);
}

TEST(Orvane, UIFontFollowsTheOwnerFormUntilAssigned) {
  TForm form(nullptr);
  form.Font()->SetName("Serif");
  form.Font()->SetSize(14);
  auto* o = new TOrvane(&form);
  EXPECT_TRUE(*o->UIFont() == *form.Font());
  form.Font()->SetStyle({fsItalic});
  EXPECT_TRUE(o->UIFont()->Style().Contains(fsItalic));  // read anew each time

  TFont mine;
  mine.SetName("Mono");
  o->SetFont(&mine);
  EXPECT_FALSE(o->UIOwnerFont());
  EXPECT_TRUE(*o->UIFont() == mine);
  EXPECT_FALSE(*o->UIFont() == *form.Font());

  // An owner that is no form leaves the component's own font alone.
  TComponent plain(nullptr);
  TOrvane other(&plain);
  TFont defaults;
  EXPECT_TRUE(*other.UIFont() == defaults);
}

TEST(Orvane, FormFileKeepsTheConfigurationButNeverActive) {
  TOrvaneProbe o(nullptr);
  o.SetName("OrvUpdate1");
  o.SetURL("http://server/info.htm");
  o.SetCurrentVersion("1.2.0.7");
  o.SetOptions({orvoRunUpdate});
  o.SetVersionFormat(orvvSimpleString);
  o.SetProxyHost("proxy");
  o.InfoTags()->SetVersionTag("Version");
  o.InfoTags()->SetRedirectTag("Next");
  o.InfoTags()->SetSizeTag("Bytes");
  o.SetPublicKey("11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=");
  o.SetRequireSignature(true);
  o.MarkActive();
  const std::string text = ComponentToText(o);
  EXPECT_EQ(text,
            "object OrvUpdate1: TOrvane\n"
            "  CurrentVersion = '1.2.0.7'\n"
            "  HomeURL = 'http://server/info.htm'\n"
            "  InfoTags.AuthorTag = ''\n"
            "  InfoTags.DateTag = ''\n"
            "  InfoTags.DownloadTag = ''\n"
            "  InfoTags.ProductNameTag = ''\n"
            "  InfoTags.ReadMeTag = ''\n"
            "  InfoTags.ReadMeExtTag = ''\n"
            "  InfoTags.RunParamsTag = ''\n"
            "  InfoTags.SizeTag = 'Bytes'\n"
            "  InfoTags.VersionTag = 'Version'\n"
            "  Options = [orvoDisplayUI, orvoRunUpdate]\n"
            "  ProxyHost = 'proxy'\n"
            "  PublicKey = '11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo='\n"
            "  RequireSignature = True\n"
            "  UIFont.Color = clWindowText\n"
            "  UIFont.Height = -11\n"
            "  UIFont.Name = 'Sans'\n"
            "  VersionFormat = orvvSimpleString\n"
            "end\n");

  TOrvane r(nullptr);
  TextToComponent(text, r);
  EXPECT_EQ(ComponentToText(r), text);
  EXPECT_FALSE(r.Active());
  EXPECT_EQ(r.HomeURL(), "http://server/info.htm");
  EXPECT_EQ(r.Options(), (TOrvOptions{orvoDisplayUI, orvoRunUpdate}));
  EXPECT_TRUE(r.RequireSignature());
  // A key or the requirement changed after a read: the page is read and checked anew.
  o.MarkActive();
  o.SetPublicKey("");
  EXPECT_FALSE(o.Active());
  o.MarkActive();
  o.SetRequireSignature(false);
  EXPECT_FALSE(o.Active());
}

TEST(Orvane, FormFileValuesGoThroughTheSetters) {
  TOrvane r(nullptr);
  TextToComponent(
      "object U: TOrvane\n"
      "  Active = True\n"
      "  HomeURL = 'ftp://elsewhere'\n"
      "  Options = []\n"
      "  ProxyPort = 8080\n"
      "  UIOwnerFont = False\n"
      "  UIFont.Name = 'Mono'\n"
      "end\n",
      r);
  EXPECT_FALSE(r.Active());
  EXPECT_EQ(r.HomeURL(), "");
  EXPECT_EQ(r.Options(), TOrvOptions{orvoDisplayUI});
  EXPECT_EQ(r.ProxyPort(), 8080);
  EXPECT_EQ(r.UIFont()->Name(), "Mono");
  try {
    TextToComponent("object U: TOrvane\n  ProductVersion = '9'\nend\n", r);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Line 2: property \"ProductVersion\" is read-only");
  }
  EXPECT_THROW(TextToComponent("object U: TOrvane\n  InfoTags.RedirectTag = 'x'\nend\n", r),
               EReadError);
}

TEST(Orvane, PublishesItsPropertiesInOrderAndCanBeCreatedByName) {
  std::vector<std::string> names;
  for (const TPublishedProp* p : TOrvane::PublishedClass().Properties()) names.push_back(p->Name);
  const std::vector<std::string> want = {"Name",
                                         "Tag",
                                         "Active",
                                         "AllowUnexpiringPages",
                                         "ApplicationId",
                                         "Attended",
                                         "AutoCheck",
                                         "CheckInterval",
                                         "CurrentVersion",
                                         "DateFormat",
                                         "DownloadMaxTime",
                                         "DownloadRetries",
                                         "DownloadRetryWait",
                                         "DownloadURL",
                                         "ExpectedProduct",
                                         "HomeURL",
                                         "InfoTags",
                                         "LastError",
                                         "LowSpeedLimit",
                                         "LowSpeedTime",
                                         "MaxPageSize",
                                         "Options",
                                         "PageMaxTime",
                                         "ProductName",
                                         "ProductAuthor",
                                         "ProductDate",
                                         "ProductDateStr",
                                         "ProductReadMe",
                                         "ProductReadMeExt",
                                         "ProductVersion",
                                         "ProxyHost",
                                         "ProxyPort",
                                         "ProxyFromEnvironment",
                                         "PublicKey",
                                         "RequireSignature",
                                         "RunParams",
                                         "StateFile",
                                         "UIFont",
                                         "UIOwnerFont",
                                         "VersionFormat",
                                         "OnDownloadProgress"};
  EXPECT_EQ(names, want);
  EXPECT_EQ(FindClass("TOrvane"), &TOrvane::PublishedClass());
  TComponent owner(nullptr);
  TextToComponent(
      "object TComponent\n  object Checker: TOrvane\n    ProxyPort = 3128\n"
      "    ProxyFromEnvironment = True\n  end\nend\n",
      owner);
  auto* made = dynamic_cast<TOrvane*>(owner.FindComponent("Checker"));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ProxyPort(), 3128);
  EXPECT_TRUE(made->ProxyFromEnvironment());
}

TEST(Orvane, ARefusedFormFileChangesNeitherValuesNorChildren) {
  TOrvaneProbe o(nullptr);
  o.SetName("OrvUpdate1");
  o.SetURL("http://server/info.htm");
  o.SetProxyHost("proxy");
  o.MarkActive();
  const std::string before = ComponentToText(o);
  // "a" is taken by the TOrvane made two lines earlier (names ignore case).
  const char* const refused =
      "object OrvUpdate1: TOrvane\n"
      "  ProxyHost = 'changed'\n"
      "  HomeURL = 'http://elsewhere/'\n"
      "  object A: TOrvane\n  end\n"
      "  object a: TWait\n  end\n"
      "end\n";
  try {
    TextToComponent(refused, o);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Line 6: a component named a already exists");
  }
  EXPECT_EQ(o.ProxyHost(), "proxy");
  EXPECT_EQ(o.HomeURL(), "http://server/info.htm");
  EXPECT_TRUE(o.Active()) << "as it was, although the address setter clears it";
  EXPECT_EQ(o.ComponentCount(), 0);
  EXPECT_EQ(ComponentToText(o), before);

  // A setter that refuses its value: the socket's port of a service nobody knows.
  auto* socket = new TWSocket(&o);
  socket->SetName("Socket");
  socket->SetPort("80");
  const std::string withSocket = ComponentToText(o);
  EXPECT_THROW(TextToComponent("object OrvUpdate1: TOrvane\n  ProxyHost = 'changed'\n"
                               "  object Socket: TWSocket\n    Addr = 'elsewhere'\n"
                               "    Port = 'no-such-service'\n  end\nend\n",
                               o),
               EReadError);
  EXPECT_EQ(socket->Port(), "80");
  EXPECT_EQ(ComponentToText(o), withSocket);
}

TEST(Orvane, EveryRegisteredComponentReadsBackWhatTheWriterWrote) {
  TForm form(nullptr);
  form.SetName("Main");
  form.SetCaption("Updates");
  form.SetBounds(10, 20, 300, 200);
  form.Font()->SetName("Mono");
  auto* checker = new TOrvane(&form);
  checker->SetName("Checker");
  checker->SetURL("http://host/page.htm");
  checker->SetCurrentVersion("2.0");
  checker->InfoTags()->SetDateTag("Date");
  checker->SetProxyPort(3128);
  checker->SetDateFormat(orvdNone);
  auto* socket = new TWSocket(&form);
  socket->SetName("Socket");
  socket->SetAddr("127.0.0.1");
  socket->SetProto("udp");
  socket->SetPort("53");
  socket->SetLingerOnOff(wsLingerOff);
  socket->SetLingerTimeout(7);
  socket->SetFlushTimeout(12);
  socket->SetSendFlags(wsSendUrgent);
  auto* wait = new TWait(&form);
  wait->SetName("Wait");
  wait->SetCaption("30");
  wait->SetInterval(250);
  wait->SetModalResult(mrCancel);
  wait->SetVisible(false);
  auto* inner = new TForm(&form);
  inner->SetName("Inner");
  (new TWait(inner))->SetName("InnerWait");
  const std::string text = ComponentToText(form);
  EXPECT_EQ(text.find("TTimer"), std::string::npos) << "the wait control's own timer";

  TForm read(nullptr);
  TextToComponent(text, read);
  EXPECT_EQ(ComponentToText(read), text);
  auto* readWait = dynamic_cast<TWait*>(read.FindComponent("Wait"));
  ASSERT_NE(readWait, nullptr);
  EXPECT_EQ(readWait->ComponentCount(), 1) << "one timer, the one it makes itself";
  EXPECT_EQ(readWait->Interval(), 250);
  EXPECT_EQ(readWait->ModalResult(), mrCancel);
  auto* readSocket = dynamic_cast<TWSocket*>(read.FindComponent("Socket"));
  ASSERT_NE(readSocket, nullptr);
  EXPECT_EQ(readSocket->Proto(), "udp");
  EXPECT_EQ(readSocket->Port(), "53");
  EXPECT_EQ(readSocket->LingerTimeout(), 7);
  auto* readChecker = dynamic_cast<TOrvane*>(read.FindComponent("Checker"));
  ASSERT_NE(readChecker, nullptr);
  EXPECT_EQ(readChecker->InfoTags()->DateTag(), "Date");
  EXPECT_EQ(readChecker->DateFormat(), orvdNone);
  ASSERT_NE(read.FindComponent("Inner"), nullptr);
  EXPECT_NE(read.FindComponent("Inner")->FindComponent("InnerWait"), nullptr);
  // Reading it again into the same form finds every component instead of adding one.
  TextToComponent(text, read);
  EXPECT_EQ(read.ComponentCount(), 4);
  EXPECT_EQ(readWait->ComponentCount(), 1);

  // The progress form keeps its published fields as its components, by name; reading the
  // text into an empty form makes them again, binds the fields and the button's handler.
  std::unique_ptr<TWebDlProgress> progress(checker->CreateProgress());
  progress->SetName("Progress");
  progress->lblDownloading->SetCaption("Downloading Update");
  progress->lblProgress->SetCaption("1,234 of 56,789 bytes received.");
  progress->pbarProgress->SetPosition(2);
  const std::string shown = ComponentToText(*progress);
  EXPECT_NE(shown.find("object Progress: TWebDlProgress"), std::string::npos) << shown;
  EXPECT_NE(shown.find("object btnCancel: TButton"), std::string::npos) << shown;
  TWebDlProgress back(nullptr);
  TextToComponent(shown, back);
  EXPECT_EQ(ComponentToText(back), shown);
  ASSERT_NE(back.pbarProgress, nullptr);
  ASSERT_NE(back.lblDownloading, nullptr);
  ASSERT_NE(back.lblProgress, nullptr);
  ASSERT_NE(back.btnCancel, nullptr);
  EXPECT_EQ(back.Caption(), "Download Progress");
  EXPECT_EQ(back.lblDownloading->Caption(), "Downloading Update");
  EXPECT_EQ(back.lblProgress->Alignment(), taCenter);
  EXPECT_EQ(back.lblProgress->Top(), 60);
  EXPECT_EQ(back.pbarProgress->Position(), 2);
  EXPECT_EQ(back.pbarProgress->Max(), 100);
  EXPECT_EQ(back.btnCancel->Caption(), "&Cancel");
  EXPECT_EQ(back.btnCancel->TabOrder(), 1);
  EXPECT_EQ(back.btnCancel->Parent(), &back);
  EXPECT_FALSE(back.Cancelled);
  back.btnCancel->Click();
  EXPECT_TRUE(back.Cancelled);
  // Read again, the same controls are found; a field never outlives its control.
  TextToComponent(shown, back);
  EXPECT_EQ(back.ComponentCount(), 4);
  delete back.lblProgress;
  EXPECT_EQ(back.lblProgress, nullptr);
}
