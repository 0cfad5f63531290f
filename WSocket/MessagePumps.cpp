// The message pumps a thread that owns socket components runs.
#include "Host/MessagePump.h"
#include "WSocket/CustomWSocket.h"

void TCustomWSocket::MessageLoop() {
  // The thread's own loop: the quit ends it.
  TMessagePump pump(TPumpOptions{.Outermost = true});
  while (pump.PumpOne(true) != TPumped::Ended) {
  }
}

void TCustomWSocket::ProcessMessages() {
  // A quit is left for the thread's own loop, which must end too.
  TMessagePump pump;
  static_cast<void>(pump.PumpPending());
}
