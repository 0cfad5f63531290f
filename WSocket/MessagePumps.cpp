// The message pumps a thread that owns socket components runs.
#include "Host/MessagePump.h"
#include "WSocket/CustomWSocket.h"

void TCustomWSocket::MessageLoop() {
  // The thread's own loop: the quit ends it.
  TMessagePump Pump(TPumpOptions{.Outermost = true});
  while (Pump.PumpOne(true) != TPumped::Ended) {
  }
}

void TCustomWSocket::ProcessMessages() {
  // A quit is left for the thread's own loop, which must end too.
  TMessagePump Pump;
  static_cast<void>(Pump.PumpPending());
}
