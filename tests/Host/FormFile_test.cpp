#include "Host/FormFile.h"

#include <gtest/gtest.h>

#include "Host/Font.h"
#include "Host/Published.h"

namespace {

enum TShade : std::uint8_t { shLight, shMedium, shDark };
enum TFlag : std::uint8_t { flOne, flTwo, flThree };
using TFlags = TEnumSet<TFlag>;

// A component with one property of every kind.
class TWidget : public TComponent {
 public:
  explicit TWidget(TComponent* owner) : TComponent(owner) {}
  std::string ClassName() const override { return "TWidget"; }
  const TPublishedClass* Published() const override { return &PublishedClass(); }
  static const TPublishedClass& PublishedClass() {
    static const TPublishedClass* cls = [] {
      auto* c = new TPublishedClass("TWidget", &TComponent::PublishedClass(),
                                    [](TComponent* o) { return new TWidget(o); });
      TPublish<TWidget>(*c)
          .String("Caption", &TWidget::Caption, &TWidget::SetCaption)
          .Default("")
          .Integer("Count", &TWidget::Count, &TWidget::SetCount)
          .Default(3)
          .Boolean("Enabled", &TWidget::Enabled, &TWidget::SetEnabled)
          .Default(true)
          .Enum("Shade", "TShade", {"shLight", "shMedium", "shDark"}, &TWidget::Shade,
                &TWidget::SetShade)
          .Default(shLight)
          .Set("Flags", "TFlags", {"flOne", "flTwo", "flThree"}, &TWidget::Flags,
               &TWidget::SetFlags)
          .Double("Ratio", "Double", &TWidget::Ratio, &TWidget::SetRatio)
          .Object("Font", TFont::PublishedClass(), &TWidget::Font)
          .String("Status", &TWidget::Status)
          .Integer("Secret", &TWidget::Secret, &TWidget::SetSecret)
          .NotStored()
          .Event("OnClick", "TNotifyEvent");
      RegisterClass(c);
      return c;
    }();
    return *cls;
  }

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& v) { FCaption = v; }
  std::int32_t Count() const { return FCount; }
  void SetCount(std::int32_t v) { FCount = v; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v) { FEnabled = v; }
  TShade Shade() const { return FShade; }
  void SetShade(TShade v) { FShade = v; }
  TFlags Flags() const { return FFlags; }
  void SetFlags(TFlags v) { FFlags = v; }
  double Ratio() const { return FRatio; }
  void SetRatio(double v) { FRatio = v; }
  TFont* Font() { return &FFont; }
  std::string Status() const { return "busy"; }
  int Secret() const { return FSecret; }
  void SetSecret(int v) { FSecret = v; }
  int LoadedCalls = 0;
  TNotifyEvent OnClick;

 protected:
  void Loaded() override {
    TComponent::Loaded();
    ++LoadedCalls;
  }

 private:
  std::string FCaption;
  std::int32_t FCount = 3;
  bool FEnabled = true;
  TShade FShade = shLight;
  TFlags FFlags;
  double FRatio = 0;
  TFont FFont;
  int FSecret = 0;
};

// A component with a setter that refuses some values after storing them, and a part it
// makes for itself.
class TPicky : public TComponent {
 public:
  explicit TPicky(TComponent* owner) : TComponent(owner), FPart(new TWidget(this)) {
    FPart->SetSubComponent(true);
    FPart->SetName("Part");
  }
  std::string ClassName() const override { return "TPicky"; }
  const TPublishedClass* Published() const override { return &PublishedClass(); }
  static const TPublishedClass& PublishedClass() {
    static const TPublishedClass* cls = [] {
      auto* c = new TPublishedClass("TPicky", &TComponent::PublishedClass(),
                                    [](TComponent* o) { return new TPicky(o); });
      TPublish<TPicky>(*c).Integer("Level", &TPicky::Level, &TPicky::SetLevel).Default(0);
      RegisterClass(c);
      return c;
    }();
    return *cls;
  }
  int Level() const { return FLevel; }
  void SetLevel(int v) {
    FLevel = v;
    if (v > 100) throw EConvertError("Level " + std::to_string(v) + " is too high");
  }
  TWidget* Part() const { return FPart; }

 private:
  int FLevel = 0;
  TWidget* FPart;
};

void Fill(TWidget& w) {
  w.SetCaption("It's a \"test\"\r\nline\t2 \xe9");
  w.SetCount(-2147483647 - 1);
  w.SetEnabled(false);
  w.SetShade(shDark);
  w.SetFlags({flOne, flThree});
  w.SetRatio(0.1);
  w.SetTag(1234567890123LL);
  w.Font()->SetName("Mono");
  w.Font()->SetStyle({fsBold});
  w.Font()->SetColor(clBtnText);
  w.SetSecret(7);
}

}  // namespace

TEST(FormFile, WritesOnlyStoredWritableValuesThatDifferFromTheirDefault) {
  TWidget w(nullptr);
  w.SetName("Widget1");
  const std::string text = ComponentToText(w);
  // Flags and Ratio have no default; the font's Color, Height and Name neither.
  EXPECT_EQ(text,
            "object Widget1: TWidget\n"
            "  Flags = []\n"
            "  Ratio = 0\n"
            "  Font.Color = clWindowText\n"
            "  Font.Height = -11\n"
            "  Font.Name = 'Sans'\n"
            "end\n");
}

TEST(FormFile, RoundTripsEveryKindOfValueAndOwnedComponents) {
  TWidget w(nullptr);
  w.SetName("Widget1");
  Fill(w);
  auto* child = new TWidget(&w);
  child->SetName("Inner");
  child->SetCaption("''");
  const std::string text = ComponentToText(w);
  EXPECT_NE(text.find("  Caption = 'It''s a \"test\"'#13#10'line'#9'2 \xe9'\n"), std::string::npos);
  EXPECT_NE(text.find("  Flags = [flOne, flThree]\n"), std::string::npos);
  EXPECT_NE(text.find("  Font.Style = [fsBold]\n"), std::string::npos);
  EXPECT_EQ(text.find("Secret"), std::string::npos);
  EXPECT_EQ(text.find("Status"), std::string::npos);
  EXPECT_EQ(text.find("OnClick"), std::string::npos);

  TWidget r(nullptr);
  TextToComponent(text, r);
  EXPECT_EQ(r.Name(), "Widget1");
  EXPECT_EQ(r.Caption(), w.Caption());
  EXPECT_EQ(r.Count(), w.Count());
  EXPECT_EQ(r.Enabled(), false);
  EXPECT_EQ(r.Shade(), shDark);
  EXPECT_EQ(r.Flags(), w.Flags());
  EXPECT_EQ(r.Ratio(), 0.1);
  EXPECT_EQ(r.Tag(), 1234567890123LL);
  EXPECT_TRUE(*r.Font() == *w.Font());
  EXPECT_EQ(r.Secret(), 0);
  ASSERT_EQ(r.ComponentCount(), 1);
  auto* readChild = dynamic_cast<TWidget*>(r.Components(0));
  ASSERT_NE(readChild, nullptr);
  EXPECT_EQ(readChild->Name(), "Inner");
  EXPECT_EQ(readChild->Caption(), "''");
  EXPECT_EQ(r.LoadedCalls, 1);
  EXPECT_EQ(readChild->LoadedCalls, 1);
  EXPECT_EQ(r.ComponentState() & (csLoading | csReading), 0u);
  // Reading again finds the child by name instead of adding another.
  TextToComponent(text, r);
  EXPECT_EQ(r.ComponentCount(), 1);
  EXPECT_EQ(ComponentToText(r), text);
}

TEST(FormFile, ReaderTakesLooserSpellings) {
  TWidget r(nullptr);
  TextToComponent(
      "\r\n  object W: TWidget\r\n"
      "caption='a'#65'b' 'c'\r\n"
      "  COUNT = $FFFFFFFF\n"
      "  Enabled = false\n"
      "  Flags = [ fltwo ,flOne ]\n"
      "  Font.Color = $0000FF\n"
      "  Ratio = -2.5e3\n"
      "  end\n\n",
      r);
  EXPECT_EQ(r.Caption(), "aAbc");
  EXPECT_EQ(r.Count(), -1);
  EXPECT_FALSE(r.Enabled());
  EXPECT_EQ(r.Flags(), (TFlags{flOne, flTwo}));
  EXPECT_EQ(r.Font()->Color(), clRed);
  EXPECT_EQ(r.Ratio(), -2500.0);
}

TEST(FormFile, RefusesBadTextNamingTheLineAndChangingNothing) {
  const struct {
    const char* Text;
    const char* Message;
  } cases[] = {
      {"object W: TWidget\n  Caption = 'x'\n  Colour = 1\nend\n",
       "Line 3: property \"Colour\" does not exist in TWidget"},
      {"object W: TWidget\n  Count = 12a\nend\n", "Line 2: invalid value 12a"},
      {"object W: TWidget\n  Count = 2147483648\nend\n", "Line 2: invalid value 2147483648"},
      {"object W: TWidget\n  Caption = 'open\nend\n", "Line 2: invalid value 'open"},
      {"object W: TWidget\n  Enabled = Yes\nend\n", "Line 2: invalid value Yes"},
      {"object W: TWidget\n  Shade = shBright\nend\n", "Line 2: invalid value shBright"},
      {"object W: TWidget\n  Flags = [flOne, flFour]\nend\n", "Line 2: invalid value"},
      {"object W: TWidget\n  Ratio = 1,5\nend\n", "Line 2: invalid value 1,5"},
      {"object W: TWidget\n  Status = 'idle'\nend\n", "Line 2: property \"Status\" is read-only"},
      {"object W: TWidget\n  OnClick = Button1Click\nend\n", "Line 2: event \"OnClick\""},
      {"object W: TWidget\n  Font = 'x'\nend\n", "Line 2: property \"Font\" takes its properties"},
      {"object W: TWidget\n  Font.Weight = 3\nend\n",
       "Line 2: property \"Weight\" does not exist in TFont"},
      {"object W: TWidget\n  Count.X = 3\nend\n", "Line 2: property \"Count\" holds no properties"},
      {"object W: TWidget\n  Count 3\nend\n", "Line 2: \"=\" expected"},
      {"object W: TWidget\n  Count = 4\n", "Line 2: \"end\" expected"},
      {"object W: TWidget\nend\nend\n", "Line 3: text after the final end"},
      {"object W: TOther\nend\n", "Line 1: the form file holds a TOther, not a TWidget"},
      {"object W: TWidget\n  object C: TNowhere\n  end\nend\n", "Line 2: class TNowhere not found"},
      {"object W: TWidget\n  object C: TComponent\n  end\nend\n",
       "Line 2: class TComponent cannot be created"},
      {"  \n\nobject W: TWidget\n  object C: TWidget\n    Count = x\n  end\nend\n",
       "Line 5: invalid value x"},
      {"", "Line 1: the form file is empty"},
  };
  RegisterClass(&TComponent::PublishedClass());
  for (const auto& c : cases) {
    TWidget w(nullptr);
    w.SetName("Before");
    try {
      TextToComponent(c.Text, w);
      ADD_FAILURE() << "accepted: " << c.Text;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message().rfind(c.Message, 0), 0u) << e.Message();
    }
    EXPECT_EQ(w.Name(), "Before");
    EXPECT_EQ(w.Caption(), "");
    EXPECT_EQ(w.Count(), 3);
    EXPECT_EQ(w.ComponentCount(), 0);
  }
}

TEST(FormFile, AFailingSetterIsReportedWithItsLine) {
  TComponent owner(nullptr);
  TWidget w(&owner);
  TWidget other(&owner);
  other.SetName("Taken");
  try {
    TextToComponent("object Taken: TWidget\nend\n", w);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Line 1: A component named Taken already exists");
  }
  EXPECT_EQ(w.ComponentState() & (csLoading | csReading), 0u);
}

TEST(FormFile, StreamsCarryTheSameText) {
  TWidget w(nullptr);
  Fill(w);
  TMemoryStream m;
  WriteComponentText(m, w);
  m.SetPosition(0);
  TWidget r(nullptr);
  ReadComponentText(m, r);
  EXPECT_EQ(ComponentToText(r), ComponentToText(w));
}

TEST(Published, DescribesPropertiesInPublicationOrderAfterTheAncestors) {
  const TPublishedClass& cls = TWidget::PublishedClass();
  std::vector<std::string> names;
  for (const TPublishedProp* p : cls.Properties()) names.push_back(p->Name);
  const std::vector<std::string> want = {"Name",    "Tag",    "Caption", "Count",
                                         "Enabled", "Shade",  "Flags",   "Ratio",
                                         "Font",    "Status", "Secret",  "OnClick"};
  EXPECT_EQ(names, want);
  EXPECT_TRUE(cls.FindProperty("status")->ReadOnly());
  EXPECT_FALSE(cls.FindProperty("Secret")->Stored);
  EXPECT_EQ(cls.FindProperty("Count")->Min, INT32_MIN);
  EXPECT_TRUE(cls.InheritsFrom("TComponent"));
  EXPECT_EQ(FindClass("twidget"), &cls);
}

TEST(FormFile, ARefusedFileLeavesEveryComponentAsItWas) {
  TComponent owner(nullptr);
  TComponent taken(&owner);
  taken.SetName("Taken");
  TWidget root(&owner);
  root.SetName("Root");
  root.SetCaption("before");
  auto* kept = new TWidget(&root);
  kept->SetName("Kept");
  kept->Font()->SetName("Mono");
  auto* pick = new TPicky(&root);
  pick->SetName("Pick");
  pick->SetLevel(5);
  TPicky::PublishedClass();
  const std::string before = ComponentToText(root);

  // Every failure comes after values were assigned and children made.
  const std::string changes =
      "object Root: TWidget\n"
      "  Caption = 'changed'\n"
      "  Font.Name = 'Serif'\n"
      "  object Kept: TWidget\n"
      "    Count = 9\n"
      "    Font.Name = 'Changed'\n"
      "  end\n"
      "  object New1: TWidget\n"
      "    object New2: TPicky\n"
      "      Level = 7\n"
      "    end\n"
      "  end\n";
  const struct {
    std::string Tail;
    const char* Message;
  } cases[] = {
      {"  object Bad: TWidget\n    Name = 'not a name'\n  end\nend\n",
       "Line 14: 'not a name' is not a valid component name"},
      {"  object Pick: TPicky\n    Level = 500\n  end\nend\n", "Line 14: Level 500 is too high"},
      {"  object Fresh: TPicky\n    Level = 101\n  end\nend\n", "Line 14: Level 101 is too high"},
      {"  object Kept: TPicky\n  end\nend\n", "Line 13: a component named Kept already exists"},
      {"  object new1: TPicky\n  end\nend\n", "Line 13: a component named new1 already exists"},
      {"  Name = 'Taken'\nend\n", "Line 13: A component named Taken already exists"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    try {
      TextToComponent(changes + c.Tail, root);
      ADD_FAILURE() << "accepted";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    EXPECT_EQ(ComponentToText(root), before);
    ASSERT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(root.Components(0), kept);
    EXPECT_EQ(root.Components(1), pick);
    EXPECT_EQ(pick->Level(), 5);
    EXPECT_EQ(pick->ComponentCount(), 1);
    EXPECT_EQ(root.LoadedCalls + kept->LoadedCalls, 0);
    for (TComponent* x : {static_cast<TComponent*>(&root), static_cast<TComponent*>(kept)})
      EXPECT_EQ(x->ComponentState() & (csLoading | csReading), 0u);
  }
  // The same changes without the bad tail are taken whole.
  TextToComponent(changes + "end\n", root);
  EXPECT_EQ(root.Caption(), "changed");
  EXPECT_EQ(kept->Count(), 9);
  ASSERT_NE(root.FindComponent("New1"), nullptr);
  EXPECT_EQ(root.ComponentCount(), 3);
}

TEST(FormFile, PartsAComponentMakesForItselfAreNotWrittenAndReadBackOnce) {
  TWidget root(nullptr);
  root.SetName("Root");
  auto* pick = new TPicky(&root);
  pick->SetName("Pick");
  pick->SetLevel(42);
  pick->Part()->SetCaption("inner");
  const std::string text = ComponentToText(root);
  EXPECT_EQ(text.find("Part"), std::string::npos) << text;
  TWidget read(nullptr);
  TextToComponent(text, read);
  auto* readPick = dynamic_cast<TPicky*>(read.FindComponent("Pick"));
  ASSERT_NE(readPick, nullptr);
  EXPECT_EQ(readPick->Level(), 42);
  EXPECT_EQ(readPick->ComponentCount(), 1) << "only the part its constructor made";
  EXPECT_EQ(ComponentToText(read), text);
  // A file may still reach a named part, which is found rather than made again.
  TextToComponent(
      "object Root: TWidget\n  object Pick: TPicky\n    object Part: TWidget\n"
      "      Caption = 'set'\n    end\n  end\nend\n",
      read);
  EXPECT_EQ(readPick->Part()->Caption(), "set");
  EXPECT_EQ(readPick->ComponentCount(), 1);
}

TEST(FormFile, NestingIsBoundedOnReadingAndOnWriting) {
  // Deep enough to overflow the stack of a reader that recursed without a bound.
  const int deep = 30000;
  std::string text;
  for (int i = 0; i < deep; ++i) text += "object C" + std::to_string(i) + ": TWidget\n";
  for (int i = 0; i < deep; ++i) text += "end\n";
  TWidget root(nullptr);
  try {
    TextToComponent(text, root);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Line " + std::to_string(MaxFormNesting + 1) +
                               ": objects nested deeper than " + std::to_string(MaxFormNesting) +
                               " levels");
  }
  EXPECT_EQ(root.Name(), "");
  EXPECT_EQ(root.ComponentCount(), 0);

  // The deepest tree the reader takes is written and read back; one more level is not written.
  TWidget chain(nullptr);
  TComponent* last = &chain;
  for (int level = 2; level <= MaxFormNesting; ++level) last = new TWidget(last);
  const std::string deepest = ComponentToText(chain);
  TWidget back(nullptr);
  TextToComponent(deepest, back);
  EXPECT_EQ(ComponentToText(back), deepest);
  new TWidget(last);
  EXPECT_THROW(ComponentToText(chain), EWriteError);
  EXPECT_EQ(chain.ComponentState() & csWriting, 0u);
}
