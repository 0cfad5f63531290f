#include <FL/fl_draw.H>

#include <algorithm>

#include "Host/Backends/Fltk/FltkParts.h"
#include "Host/Graphics.h"

namespace fltkparts {

void TCanvasWidget::draw() {
  fl_push_clip(x(), y(), w(), h());
  for (const TDrawOp& op : Ops) {
    const int x1 = x() + op.X1, y1 = y() + op.Y1;
    switch (op.Kind) {
      case TDrawOp::Rect:
        // The right and bottom edges lie outside, as with the fill.
        fl_rectf(x1, y1, op.X2 - op.X1, op.Y2 - op.Y1, op.Brush);
        fl_color(op.Pen);
        fl_line_style(FL_SOLID, op.PenWidth);
        fl_rect(x1, y1, op.X2 - op.X1, op.Y2 - op.Y1);
        fl_line_style(0);
        break;
      case TDrawOp::Fill:
        fl_rectf(x1, y1, op.X2 - op.X1, op.Y2 - op.Y1, op.Brush);
        break;
      case TDrawOp::Text:
        fl_font(op.Font.Face, op.Font.Size);
        fl_color(op.Font.Color);
        fl_draw(op.Str.c_str(), x1, y1 + fl_height() - fl_descent());
        break;
    }
  }
  fl_pop_clip();
}

}  // namespace fltkparts

using namespace fltkparts;

void TFltkBackend::BeginPaint(TControl& Control) {
  FPainting = nullptr;
  TShownForm* s = FindOwner(&Control);
  if (s == nullptr) return;
  if (auto* w = dynamic_cast<TCanvasWidget*>(s->WidgetOf(&Control))) {
    FPainting = &Control;
    w->Ops.clear();
  }
}

void TFltkBackend::EndPaint(TControl& Control) {
  if (FPainting != &Control) return;
  FPainting = nullptr;
  if (TShownForm* s = FindOwner(&Control)) {
    s->WidgetOf(&Control)->redraw();
    RequestPump();
  }
}

void TFltkBackend::Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* w = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp op;
  op.Kind = TDrawOp::Rect;
  op.X1 = X1, op.Y1 = Y1, op.X2 = X2, op.Y2 = Y2;
  op.Pen = ToFlColor(Canvas.Pen()->Color());
  op.PenWidth = std::max(1, Canvas.Pen()->Width());
  op.Brush = ToFlColor(Canvas.Brush()->Color());
  w->Ops.push_back(std::move(op));
}

void TFltkBackend::FillRect(TCanvas& Canvas, const TRect& Rect) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* w = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp op;
  op.Kind = TDrawOp::Fill;
  op.X1 = Rect.Left, op.Y1 = Rect.Top, op.X2 = Rect.Right, op.Y2 = Rect.Bottom;
  op.Brush = ToFlColor(Canvas.Brush()->Color());
  w->Ops.push_back(std::move(op));
}

void TFltkBackend::TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) {
  if (FPainting == nullptr || Canvas.Control() != FPainting) return;
  auto* w = static_cast<TCanvasWidget*>(FindOwner(FPainting)->WidgetOf(FPainting));
  TDrawOp op;
  op.Kind = TDrawOp::Text;
  op.X1 = X, op.Y1 = Y;
  op.Font = ToFlFont(Canvas.Font());
  op.Str = Text;
  w->Ops.push_back(std::move(op));
}
