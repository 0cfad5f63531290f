// Controls: geometry, parents, asynchronous painting through the back-end, the canvas.
#include "Host/Controls.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/Graphics.h"
#include "Host/VisualTestSupport.h"

namespace {

using ControlsTest = vtest::TVisualTest;

// Draws one rectangle and one text with whatever the canvas holds.
class TProbeControl : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  void Paint() override {
    Canvas()->Rectangle(1, 2, 3, 4);
    Canvas()->TextOut(5, 6, Text());
  }
};

TEST_F(ControlsTest, FormsStartHiddenWithTheirOwnFont) {
  TForm Form(nullptr);
  EXPECT_FALSE(Form.Visible());
  ASSERT_NE(Form.Font(), nullptr);
  Form.SetCaption("Update");
  EXPECT_EQ(Form.Caption(), "Update");
  EXPECT_EQ(Form.ModalResult(), mrNone);
  Form.SetModalResult(mrCancel);
  EXPECT_EQ(Form.ModalResult(), mrCancel);
  TControl Plain(nullptr);
  EXPECT_TRUE(Plain.Visible());
  EXPECT_THROW(Plain.SetWidth(-1), Exception);
  EXPECT_EQ(Plain.Width(), 0);
}

TEST_F(ControlsTest, ParentsListChildrenAndOutliveNeitherSide) {
  TForm Form(nullptr);
  auto* Child = new TProbeControl(&Form);
  TProbeControl Loose(nullptr);
  Child->SetParent(&Form);
  Loose.SetParent(&Form);
  ASSERT_EQ(Form.ControlCount(), 2);
  EXPECT_EQ(Form.Controls(0), Child);
  EXPECT_THROW(Form.SetParent(Child), Exception);  // a control inside itself
  delete Child;
  ASSERT_EQ(Form.ControlCount(), 1);
  EXPECT_EQ(Form.Controls(0), &Loose);
  {
    TForm ShortLived(nullptr);
    Loose.SetParent(&ShortLived);
    EXPECT_EQ(Form.ControlCount(), 0);
  }
  EXPECT_EQ(Loose.Parent(), nullptr);
}

TEST_F(ControlsTest, InvalidatePaintsOnceFromTheLoopAndOnlyWhenShowing) {
  TProbeControl Control(nullptr);
  Control.SetText("a");
  Control.Invalidate();
  Control.Invalidate();
  EXPECT_EQ(Backend.PaintCount(&Control), 0);  // not before the loop runs
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&Control), 1);

  TForm Form(nullptr);  // hidden
  Control.SetParent(&Form);
  Backend.Clear();
  Control.Invalidate();
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&Control), 0);
  Form.Show();  // coming into view repaints what is inside
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&Control), 1);
}

TEST_F(ControlsTest, ChangesThatShowRepaint) {
  TProbeControl Control(nullptr);
  Application->ProcessMessages();
  auto PaintsAfter = [&](auto Change) {
    Backend.Clear();
    Change();
    Application->ProcessMessages();
    return Backend.PaintCount(&Control);
  };
  EXPECT_EQ(PaintsAfter([&] { Control.SetText("x"); }), 1);
  EXPECT_EQ(PaintsAfter([&] { Control.SetText("x"); }), 0);
  EXPECT_EQ(PaintsAfter([&] { Control.SetBounds(1, 1, 10, 10); }), 1);
  EXPECT_EQ(PaintsAfter([&] { Control.Font()->SetSize(20); }), 1);
  EXPECT_EQ(PaintsAfter([&] { Control.Hide(); }), 0);
  EXPECT_EQ(PaintsAfter([&] { Control.Show(); }), 1);
}

TEST_F(ControlsTest, FreedWithAPaintPendingIsNotPainted) {
  auto* Control = new TProbeControl(nullptr);
  Control->Invalidate();
  // Kept as a number: the recorder compares addresses only, never touches the control.
  const volatile std::uintptr_t GoneAddress = reinterpret_cast<std::uintptr_t>(Control);
  delete Control;
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(reinterpret_cast<const TControl*>(GoneAddress)), 0);
}

TEST_F(ControlsTest, CanvasHandsEachCallWithItsStateToTheBackend) {
  TProbeControl Control(nullptr);
  Control.SetText("hello");
  TPen Pen;
  Pen.SetColor(clRed);
  Pen.SetWidth(3);
  Control.Canvas()->SetPen(&Pen);
  Control.Canvas()->Brush()->SetColor(clHighlight);
  Control.Canvas()->Font()->SetName("Courier");
  Control.Repaint();
  ASSERT_EQ(Backend.Calls().size(), 4u);
  EXPECT_EQ(Backend.Calls().front().Kind, TScriptedBackend::dkBeginPaint);
  EXPECT_EQ(Backend.Calls().back().Kind, TScriptedBackend::dkEndPaint);
  auto Draw = Backend.DrawingsOf(&Control);
  ASSERT_EQ(Draw.size(), 2u);
  EXPECT_EQ(Draw[0].Kind, TScriptedBackend::dkRectangle);
  EXPECT_EQ(std::vector<int>({Draw[0].X1, Draw[0].Y1, Draw[0].X2, Draw[0].Y2}),
            std::vector<int>({1, 2, 3, 4}));
  EXPECT_EQ(Draw[0].PenColor, clRed);
  EXPECT_EQ(Draw[0].PenWidth, 3);
  EXPECT_EQ(Draw[0].BrushColor, clHighlight);
  EXPECT_EQ(Draw[1].Text, "hello");
  EXPECT_EQ(Draw[1].FontName, "Courier");
  // Changing the pen afterwards leaves the canvas's copy alone.
  Pen.SetColor(clBlue);
  EXPECT_EQ(Control.Canvas()->Pen()->Color(), clRed);
  TBrush Brush;
  EXPECT_THROW(Pen.Assign(&Brush), EConvertError);
  EXPECT_THROW(Pen.SetWidth(-2), Exception);

  MessageBeep(0x30);
  EXPECT_EQ(Backend.Beeps(), std::vector<plat::UINT>({0x30}));
}

}  // namespace
