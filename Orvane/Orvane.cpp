#include "Orvane/Orvane.h"

#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/Published.h"
#include "Host/StringList.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/ExceptionHook.h"
#include "Orvane/HttpEvents.h"
#include "Orvane/WebDlProgress.h"

TOrvane::TOrvane(TComponent* AOwner)
    : TComponent(AOwner),
      FInfoTags(std::make_unique<TOrvTags>()),
      FUIFontObject(std::make_unique<TFont>()) {
  TSharedHttpClient::Instance().Join();
}

TOrvane::~TOrvane() {
  SetDestroying();
  // Freed from a handler while a form of a request waits: the wait ends, and the form goes
  // once its loop has let go of it.
  for (TCustomForm* form : {FWaitForm, static_cast<TCustomForm*>(FProgressForm)}) {
    if (!form) continue;
    form->SetModalResult(mrCancel);
    form->Release();
  }
  TSharedHttpClient::Instance().Leave(this);
  // The hook must not outlive the component.
  ClearExceptionHandler();
  RemoveReadMeFolder();
}

const TPublishedClass& TOrvane::PublishedClass() {
  static const TPublishedClass* cls = [] {
    auto* c = new TPublishedClass("TOrvane", &TComponent::PublishedClass(),
                                  [](TComponent* owner) { return new TOrvane(owner); });
    const std::vector<std::string> options = {
        "orvoAlwaysOverwrite",  "orvoDisplayUI", "orvoDisplayReadMe",     "orvoRunUpdate",
        "orvoExitDuringUpdate", "orvoOfferSkip", "orvoReplaceAndRelaunch"};
    TPublish<TOrvane>(*c)
        .Boolean("Active", &TOrvane::Active, &TOrvane::SetActive)
        .NotStored()
        // A refused form file gives back the Active it found, which SetActive cannot.
        .RestoreWith([](TOrvane& o, const TPropValue& v) { o.FActive = std::get<bool>(v); })
        .Boolean("AllowUnexpiringPages", &TOrvane::AllowUnexpiringPages,
                 &TOrvane::SetAllowUnexpiringPages)
        .Default(false)
        .String("ApplicationId", &TOrvane::ApplicationId, &TOrvane::SetApplicationId)
        .Default(std::string())
        .Boolean("Attended", &TOrvane::Attended, &TOrvane::SetAttended)
        .Default(true)
        .Boolean("AutoCheck", &TOrvane::AutoCheck, &TOrvane::SetAutoCheck)
        .Default(false)
        .Integer("CheckInterval", &TOrvane::CheckInterval, &TOrvane::SetCheckInterval)
        .Default(0)
        .String("CurrentVersion", &TOrvane::CurrentVersion, &TOrvane::SetCurrentVersion)
        .Enum("DateFormat", "TOrvDateFormat", {"orvdZelDate", "orvdNone"}, &TOrvane::DateFormat,
              &TOrvane::SetDateFormat)
        .Default(orvdZelDate)
        .Integer("DownloadMaxTime", &TOrvane::DownloadMaxTime, &TOrvane::SetDownloadMaxTime)
        .Default(0)
        .Integer("DownloadRetries", &TOrvane::DownloadRetries, &TOrvane::SetDownloadRetries)
        .Default(DefaultDownloadRetries)
        .Integer("DownloadRetryWait", &TOrvane::DownloadRetryWait, &TOrvane::SetDownloadRetryWait)
        .Default(DefaultDownloadRetryWait)
        .String("DownloadURL", &TOrvane::DownloadURL)
        .String("ExpectedProduct", &TOrvane::ExpectedProduct, &TOrvane::SetExpectedProduct)
        .Default(std::string())
        .String("HomeURL", &TOrvane::HomeURL, &TOrvane::SetURL)
        .Object("InfoTags", TOrvTags::PublishedClass(), &TOrvane::InfoTags)
        .String("LastError", &TOrvane::LastError)
        .Integer("LowSpeedLimit", &TOrvane::LowSpeedLimit, &TOrvane::SetLowSpeedLimit)
        .Default(DefaultLowSpeedLimit)
        .Integer("LowSpeedTime", &TOrvane::LowSpeedTime, &TOrvane::SetLowSpeedTime)
        .Default(DefaultLowSpeedTime)
        .Integer("MaxPageSize", &TOrvane::MaxPageSize, &TOrvane::SetMaxPageSize)
        .Default(DefaultMaxPageSize)
        .Set("Options", "TOrvOptions", options, &TOrvane::Options, &TOrvane::SetOptions)
        .Integer("PageMaxTime", &TOrvane::PageMaxTime, &TOrvane::SetPageMaxTime)
        .Default(DefaultPageMaxTime)
        .String("ProductName", &TOrvane::ProductName)
        .String("ProductAuthor", &TOrvane::ProductAuthor)
        .Double("ProductDate", "TDateTime", &TOrvane::ProductDate)
        .String("ProductDateStr", &TOrvane::ProductDateStr)
        .String("ProductReadMe", &TOrvane::ProductReadMe)
        .String("ProductReadMeExt", &TOrvane::ProductReadMeExt)
        .String("ProductVersion", &TOrvane::ProductVersion)
        .String("ProxyHost", &TOrvane::ProxyHost, &TOrvane::SetProxyHost)
        .Integer("ProxyPort", &TOrvane::ProxyPort, &TOrvane::SetProxyPort)
        .Default(80)
        .Boolean("ProxyFromEnvironment", &TOrvane::ProxyFromEnvironment,
                 &TOrvane::SetProxyFromEnvironment)
        .Default(false)
        .String("PublicKey", &TOrvane::PublicKey, &TOrvane::SetPublicKey)
        .Default(std::string())
        .Boolean("RequireSignature", &TOrvane::RequireSignature, &TOrvane::SetRequireSignature)
        .Default(false)
        .String("RunParams", &TOrvane::RunParams)
        .String("StateFile", &TOrvane::StateFile, &TOrvane::SetStateFile)
        .Default(std::string())
        .Object("UIFont", TFont::PublishedClass(), &TOrvane::GetFont)
        .Boolean("UIOwnerFont", &TOrvane::UIOwnerFont, &TOrvane::SetUIOwnerFont)
        .Default(true)
        .Enum("VersionFormat", "TOrvVersionFormat", {"orvvBuildNumber", "orvvSimpleString"},
              &TOrvane::VersionFormat, &TOrvane::SetVersionFormat)
        .Default(orvvBuildNumber)
        .Event("OnDownloadProgress", "TDownloadProgressEvent");
    RegisterClass(c);
    return c;
  }();
  return *cls;
}

const TPublishedClass* TOrvane::Published() const {
  return &PublishedClass();
}

namespace {
// A form file may name TOrvane before the application has made one.
[[maybe_unused]] const bool kOrvaneRegistered = (TOrvane::PublishedClass(), true);
}  // namespace

void TOrvane::SetProxyPort(std::int32_t Value) {
  if (Value < 0 || Value > 65535)
    throw EConvertError("ProxyPort must be a port number from 0 to 65535, not " +
                        std::to_string(Value));
  FProxyPort = Value;
}

namespace {

void SetTimeBound(std::int32_t& Field, std::int32_t Value, const char* Name) {
  if (Value < 0)
    throw EConvertError(std::string(Name) + " must not be negative, not " + std::to_string(Value));
  Field = Value;
}

}  // namespace

void TOrvane::SetLowSpeedLimit(std::int32_t Value) {
  SetTimeBound(FLowSpeedLimit, Value, "LowSpeedLimit");
}

void TOrvane::SetLowSpeedTime(std::int32_t Value) {
  SetTimeBound(FLowSpeedTime, Value, "LowSpeedTime");
}

void TOrvane::SetPageMaxTime(std::int32_t Value) {
  SetTimeBound(FPageMaxTime, Value, "PageMaxTime");
}

void TOrvane::SetDownloadMaxTime(std::int32_t Value) {
  SetTimeBound(FDownloadMaxTime, Value, "DownloadMaxTime");
}

void TOrvane::SetDownloadRetries(std::int32_t Value) {
  SetTimeBound(FDownloadRetries, Value, "DownloadRetries");
}

void TOrvane::SetDownloadRetryWait(std::int32_t Value) {
  SetTimeBound(FDownloadRetryWait, Value, "DownloadRetryWait");
}

void TOrvane::SetActive(bool Value) {
  if (!Value) FActive = false;
}

void TOrvane::SetURL(const std::string& Value) {
  if (Value.compare(0, 7, "http://") != 0 && Value.compare(0, 8, "https://") != 0) return;
  FActive = false;
  FHomeURL = Value;
}

void TOrvane::SetPublicKey(const std::string& Value) {
  // A page read under another key (or none) has not been checked against this one.
  FActive = false;
  FPublicKey = Value;
}

void TOrvane::SetRequireSignature(bool Value) {
  FActive = false;
  FRequireSignature = Value;
}

void TOrvane::SetExpectedProduct(const std::string& Value) {
  FActive = false;
  FExpectedProduct = Value;
}

void TOrvane::SetAllowUnexpiringPages(bool Value) {
  FActive = false;
  FAllowUnexpiringPages = Value;
}

void TOrvane::SetInfoTags(const TOrvTags* Value) {
  FInfoTags->Assign(Value);
}

void TOrvane::SetOptions(TOrvOptions Value) {
  FOptions = Value + TOrvOptions{orvoDisplayUI};
}

TFont* TOrvane::GetFont() {
  TComponent* owner = Owner();
  if (FUIOwnerFont && owner != nullptr && !owner->Destroying())
    if (auto* form = dynamic_cast<TCustomForm*>(owner)) FUIFontObject->Assign(form->Font());
  return FUIFontObject.get();
}

void TOrvane::SetFont(const TFont* Value) {
  FUIFontObject->Assign(Value);
  FUIOwnerFont = false;
}
