// The count-down, time-out, stop, repaint and drawing rules of the wait control.
#include "Wait/Wait.h"

#include <gtest/gtest.h>

#include <vector>

#include "Host/Published.h"
#include "Host/VisualTestSupport.h"

namespace {

using vtest::TVisualTest;

class WaitTest : public TVisualTest {
 protected:
  TWait Wait{nullptr};
  std::vector<int> Counts;
  std::vector<std::string> Events;  // "name:caption:modalresult" at the time each fired

  void Watch() {
    Wait.OnWait = [this](TObject* Sender, std::int32_t Count) {
      EXPECT_EQ(Sender, &Wait);
      Counts.push_back(Count);
      Events.push_back("wait:" + Wait.Caption());
    };
    Wait.OnTimeout = [this](TObject*) {
      Events.push_back("timeout:" + Wait.Caption() + ":" + std::to_string(Wait.ModalResult()));
    };
    Wait.OnWaitStop = [this](TObject*) {
      Events.push_back("stop:" + Wait.Caption() + ":" + std::to_string(Wait.ModalResult()));
    };
    Wait.OnWaitStart = [this](TObject*) { Events.push_back("start:" + Wait.Caption()); };
  }
};

TEST_F(WaitTest, NewControlIsIdleShowingSixty) {
  EXPECT_EQ(Wait.Caption(), "60");
  EXPECT_EQ(Wait.InitialCount(), 60);
  EXPECT_EQ(Wait.Width(), 192);
  EXPECT_EQ(Wait.Height(), 32);
  EXPECT_FALSE(Wait.Running());
  EXPECT_TRUE(Wait.Visible());
  EXPECT_EQ(Wait.Interval(), 1000);
  Wait.SetInterval(65535);
  EXPECT_EQ(Wait.Interval(), 65535);
  EXPECT_EQ(Wait.ModalResult(), mrNone);
  // Its own caption, apart from the framework's text.
  EXPECT_EQ(static_cast<TControl&>(Wait).Caption(), "");
}

TEST_F(WaitTest, StartWithoutLeadingNumberCountsFifteen) {
  for (const char* text : {"0", "abc", "", " ", "-5", "00"}) {
    Wait.SetCaption(text);
    Wait.Start();
    EXPECT_EQ(Wait.Caption(), "15") << text;
    EXPECT_EQ(Wait.InitialCount(), 15) << text;
    EXPECT_TRUE(Wait.Running());
    Wait.Stop();
  }
}

TEST_F(WaitTest, StartReadsLeadingBlanksAndDigitsOnly) {
  Watch();
  Wait.SetCaption("  30 sec");
  Wait.Start();
  EXPECT_EQ(Wait.InitialCount(), 30);
  EXPECT_EQ(Wait.Caption(), "  30 sec");  // untouched until the first tick
  Wait.TimerEvent(nullptr);
  EXPECT_EQ(Wait.Caption(), "29");
  EXPECT_EQ(Counts, std::vector<int>({29}));
  Wait.Stop();
  EXPECT_EQ(Wait.Caption(), "30");
}

TEST_F(WaitTest, CountsDownThenTimesOutReadyForTheNextStart) {
  Watch();
  Wait.SetCaption("3");
  Wait.Start();
  Wait.TimerEvent(nullptr);
  Wait.TimerEvent(nullptr);
  EXPECT_TRUE(Wait.Running());
  EXPECT_EQ(Wait.Caption(), "1");
  Wait.TimerEvent(nullptr);
  EXPECT_EQ(Counts, std::vector<int>({2, 1, 0}));
  // OnWait sees the previous count; OnTimeout the restored one with the outcome set.
  EXPECT_EQ(Events,
            std::vector<std::string>({"start:3", "wait:3", "wait:2", "wait:1", "timeout:3:2"}));
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.Caption(), "3");

  Counts.clear();
  Wait.Start();
  EXPECT_EQ(Wait.InitialCount(), 3);
}

TEST_F(WaitTest, StopSetsOkAndRestoresCaptionBeforeOnWaitStop) {
  Watch();
  Wait.SetCaption("5");
  Wait.Start();
  Wait.TimerEvent(nullptr);
  Wait.TimerEvent(nullptr);
  Wait.Stop();
  EXPECT_EQ(Events.back(), "stop:5:1");
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.Caption(), "5");
}

TEST_F(WaitTest, RestartStartsTheCountOverWithoutStopping) {
  Wait.SetCaption("10");
  Wait.Start();
  for (int i = 0; i < 4; ++i) Wait.TimerEvent(nullptr);
  EXPECT_EQ(Wait.Caption(), "6");
  Wait.Restart();
  EXPECT_EQ(Wait.Caption(), "10");
  EXPECT_TRUE(Wait.Running());
  // Start while counting takes the displayed count.
  Wait.TimerEvent(nullptr);
  Wait.Start();
  EXPECT_EQ(Wait.InitialCount(), 9);
}

TEST_F(WaitTest, CaptionWithoutNumberWhileCountingEndsOnNextTick) {
  Watch();
  Wait.SetCaption("10");
  Wait.Start();
  Wait.SetCaption("done");
  Wait.TimerEvent(nullptr);
  EXPECT_EQ(Counts, std::vector<int>({-1}));
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.Caption(), "10");
}

TEST_F(WaitTest, StopInsideOnWaitIsNotUndoneByTheTick) {
  // On a middle tick the count would overwrite the restored caption; on the last, a
  // time-out would follow the stop.
  for (const char* start : {"5", "1"}) {
    Events.clear();
    Watch();
    Wait.SetCaption(start);
    Wait.Start();
    Wait.OnWait = [this](TObject*, std::int32_t) { Wait.Stop(); };
    Wait.TimerEvent(nullptr);
    EXPECT_EQ(Wait.Caption(), start);
    EXPECT_EQ(Wait.ModalResult(), mrOk);
    EXPECT_EQ(Events.back(), std::string("stop:") + start + ":1");
  }
}

TEST_F(WaitTest, HugeCaptionDoesNotWrapIntoAShortCount) {
  Wait.SetCaption("99999999999");
  Wait.Start();
  EXPECT_EQ(Wait.InitialCount(), 2147483647);
  Wait.TimerEvent(nullptr);
  EXPECT_TRUE(Wait.Running());
  EXPECT_EQ(Wait.Caption(), "2147483646");
  Wait.Stop();
}

TEST_F(WaitTest, OnlyTicksRepaint) {
  Wait.SetCaption("5");
  Application->ProcessMessages();  // the paint asked for by the construction
  Backend.Clear();
  Wait.Start();
  Wait.Restart();
  Wait.Stop();
  Wait.SetCaption("4");
  Wait.Start();
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&Wait), 0);
  Wait.TimerEvent(nullptr);
  Wait.TimerEvent(nullptr);  // one repaint for both: the first is still pending
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&Wait), 1);
  Wait.Stop();
}

TEST_F(WaitTest, PaintDrawsFrameBarAndCount) {
  Wait.Repaint();
  auto draw = Backend.DrawingsOf(&Wait);
  ASSERT_EQ(draw.size(), 3u);
  EXPECT_EQ(draw[0].Kind, TScriptedBackend::dkRectangle);
  EXPECT_EQ(std::vector<int>({draw[0].X1, draw[0].Y1, draw[0].X2, draw[0].Y2}),
            std::vector<int>({0, 0, 191, 31}));
  EXPECT_EQ(draw[0].BrushColor, 0xFFFFFF);
  EXPECT_EQ(draw[0].PenColor, clBlack);
  EXPECT_EQ(draw[1].Kind, TScriptedBackend::dkRectangle);
  EXPECT_EQ(std::vector<int>({draw[1].X1, draw[1].Y1, draw[1].X2, draw[1].Y2}),
            std::vector<int>({3, 3, 188, 28}));  // the whole inner width, to Width - 4
  EXPECT_EQ(static_cast<std::uint32_t>(draw[1].BrushColor), 0x8000000Du);
  EXPECT_EQ(draw[2].Kind, TScriptedBackend::dkTextOut);
  EXPECT_EQ(draw[2].X1, 4);
  EXPECT_EQ(draw[2].Y1, 8);
  EXPECT_EQ(draw[2].Text, "60");
  EXPECT_EQ(draw[2].FontName, "Courier");
  EXPECT_EQ(draw[2].FontSize, 8);
  EXPECT_EQ(draw[2].FontPitch, fpFixed);
}

TEST_F(WaitTest, BarShrinksWithTheCountAndStaysInsideTheFrame) {
  auto barRight = [this](const char* Caption) {
    Wait.SetCaption(Caption);
    Backend.Clear();
    Wait.Repaint();
    return Backend.DrawingsOf(&Wait).at(1).X2;
  };
  Wait.SetCaption("60");
  Wait.Start();
  EXPECT_EQ(barRight("30"), 3 + 185 * 30 / 60);
  EXPECT_EQ(barRight("1"), 3 + 185 / 60);
  EXPECT_EQ(barRight("0"), 3);
  EXPECT_EQ(barRight("99999999999"), 188);  // a caption set by hand, above the start count
  Wait.Stop();

  Wait.SetBounds(0, 0, 50, 15);
  Backend.Clear();
  Wait.Repaint();
  auto draw = Backend.DrawingsOf(&Wait);
  EXPECT_EQ(draw.at(1).Y2, 11);
  EXPECT_EQ(draw.at(2).Y1, -1);  // 15 div 2 - 8
}

TEST_F(WaitTest, PublishesItsPropertiesForFormFiles) {
  const TPublishedClass* publishedClass = FindClass("TWait");
  ASSERT_NE(publishedClass, nullptr);
  EXPECT_EQ(Wait.Published(), publishedClass);
  std::vector<std::string> names;
  for (const TPublishedProp* p : publishedClass->Properties()) names.push_back(p->Name);
  for (const char* name : {"Caption", "ModalResult", "Interval", "OnWait", "OnWaiting",
                           "OnWaitStart", "OnWaitStop", "OnTimeout", "Running", "Visible"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  EXPECT_TRUE(publishedClass->FindProperty("Running")->ReadOnly());
  std::unique_ptr<TComponent> made(publishedClass->Create(nullptr));
  EXPECT_EQ(dynamic_cast<TWait*>(made.get())->Caption(), "60");
}

}  // namespace
