// The least an FLTK program does to put one window on the screen: the yardstick for the
// start-up of orvane-demo. Runs until it is killed.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>

int main() {
  Fl_Double_Window window(480, 225, "One Window");
  new Fl_Box(16, 16, 448, 40, "One window, nothing else.");
  window.end();
  window.show();
  return Fl::run();
}
