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
  TForm form(nullptr);
  EXPECT_FALSE(form.Visible());
  ASSERT_NE(form.Font(), nullptr);
  form.SetCaption("Update");
  EXPECT_EQ(form.Caption(), "Update");
  EXPECT_EQ(form.ModalResult(), mrNone);
  form.SetModalResult(mrCancel);
  EXPECT_EQ(form.ModalResult(), mrCancel);
  TControl plain(nullptr);
  EXPECT_TRUE(plain.Visible());
  EXPECT_THROW(plain.SetWidth(-1), Exception);
  EXPECT_EQ(plain.Width(), 0);
}

TEST_F(ControlsTest, ParentsListChildrenAndOutliveNeitherSide) {
  TForm form(nullptr);
  auto* child = new TProbeControl(&form);
  TProbeControl loose(nullptr);
  child->SetParent(&form);
  loose.SetParent(&form);
  ASSERT_EQ(form.ControlCount(), 2);
  EXPECT_EQ(form.Controls(0), child);
  EXPECT_THROW(form.SetParent(child), Exception);  // a control inside itself
  delete child;
  ASSERT_EQ(form.ControlCount(), 1);
  EXPECT_EQ(form.Controls(0), &loose);
  {
    TForm shortLived(nullptr);
    loose.SetParent(&shortLived);
    EXPECT_EQ(form.ControlCount(), 0);
  }
  EXPECT_EQ(loose.Parent(), nullptr);
}

TEST_F(ControlsTest, InvalidatePaintsOnceFromTheLoopAndOnlyWhenShowing) {
  TProbeControl control(nullptr);
  control.SetText("a");
  control.Invalidate();
  control.Invalidate();
  EXPECT_EQ(Backend.PaintCount(&control), 0);  // not before the loop runs
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&control), 1);

  TForm form(nullptr);  // hidden
  control.SetParent(&form);
  Backend.Clear();
  control.Invalidate();
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&control), 0);
  form.Show();  // coming into view repaints what is inside
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(&control), 1);
}

TEST_F(ControlsTest, ChangesThatShowRepaint) {
  TProbeControl control(nullptr);
  Application->ProcessMessages();
  auto paintsAfter = [&](auto Change) {
    Backend.Clear();
    Change();
    Application->ProcessMessages();
    return Backend.PaintCount(&control);
  };
  EXPECT_EQ(paintsAfter([&] { control.SetText("x"); }), 1);
  EXPECT_EQ(paintsAfter([&] { control.SetText("x"); }), 0);
  EXPECT_EQ(paintsAfter([&] { control.SetBounds(1, 1, 10, 10); }), 1);
  EXPECT_EQ(paintsAfter([&] { control.Font()->SetSize(20); }), 1);
  EXPECT_EQ(paintsAfter([&] { control.Hide(); }), 0);
  EXPECT_EQ(paintsAfter([&] { control.Show(); }), 1);
}

TEST_F(ControlsTest, FreedWithAPaintPendingIsNotPainted) {
  auto* control = new TProbeControl(nullptr);
  control->Invalidate();
  // Kept as a number: the recorder compares addresses only, never touches the control.
  const volatile std::uintptr_t goneAddress = reinterpret_cast<std::uintptr_t>(control);
  delete control;
  Application->ProcessMessages();
  EXPECT_EQ(Backend.PaintCount(reinterpret_cast<const TControl*>(goneAddress)), 0);
}

TEST_F(ControlsTest, CanvasHandsEachCallWithItsStateToTheBackend) {
  TProbeControl control(nullptr);
  control.SetText("hello");
  TPen pen;
  pen.SetColor(clRed);
  pen.SetWidth(3);
  control.Canvas()->SetPen(&pen);
  control.Canvas()->Brush()->SetColor(clHighlight);
  control.Canvas()->Font()->SetName("Courier");
  control.Repaint();
  ASSERT_EQ(Backend.Calls().size(), 4u);
  EXPECT_EQ(Backend.Calls().front().Kind, TScriptedBackend::dkBeginPaint);
  EXPECT_EQ(Backend.Calls().back().Kind, TScriptedBackend::dkEndPaint);
  auto draw = Backend.DrawingsOf(&control);
  ASSERT_EQ(draw.size(), 2u);
  EXPECT_EQ(draw[0].Kind, TScriptedBackend::dkRectangle);
  EXPECT_EQ(std::vector<int>({draw[0].X1, draw[0].Y1, draw[0].X2, draw[0].Y2}),
            std::vector<int>({1, 2, 3, 4}));
  EXPECT_EQ(draw[0].PenColor, clRed);
  EXPECT_EQ(draw[0].PenWidth, 3);
  EXPECT_EQ(draw[0].BrushColor, clHighlight);
  EXPECT_EQ(draw[1].Text, "hello");
  EXPECT_EQ(draw[1].FontName, "Courier");
  // Changing the pen afterwards leaves the canvas's copy alone.
  pen.SetColor(clBlue);
  EXPECT_EQ(control.Canvas()->Pen()->Color(), clRed);
  TBrush brush;
  EXPECT_THROW(pen.Assign(&brush), EConvertError);
  EXPECT_THROW(pen.SetWidth(-2), Exception);

  MessageBeep(0x30);
  EXPECT_EQ(Backend.Beeps(), std::vector<plat::UINT>({0x30}));
}

}  // namespace
