#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Host/Published.h"
#include "Host/StringList.h"
#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"

using wsocktest::ProbeSocket;

namespace {

// Leaves no component alive, so that the socket layer is cleaned up.
void ExpectNoSocketLeft() {
  ASSERT_EQ(SocketCount(), 0);
}

TEST(SocketCoreTest, PropertiesAfterCreate) {
  ExpectNoSocketLeft();
  TWSocket s(nullptr);
  EXPECT_EQ(s.Addr(), "");
  EXPECT_EQ(s.Port(), "");
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.DnsResult(), "");
  ASSERT_NE(s.DnsResultList(), nullptr);
  EXPECT_EQ(s.DnsResultList()->Count(), 0);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.ReadCount(), 0);
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_FALSE(s.MultiThreaded());
  EXPECT_EQ(s.WaitCtrl(), nullptr);
  EXPECT_EQ(s.FlushTimeout(), 60);
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.LingerTimeout(), 0);
  EXPECT_EQ(s.ClassName(), "TWSocket");
}

TEST(SocketCoreTest, LastSocketCleansUpAndNextCreateStartsAgain) {
  ExpectNoSocketLeft();
  {
    auto a = std::make_unique<TWSocket>(nullptr);
    auto b = std::make_unique<TWSocket>(nullptr);
    EXPECT_EQ(SocketCount(), 2);
    EXPECT_TRUE(WinsockStarted());
    a.reset();
    EXPECT_TRUE(WinsockStarted());
    b.reset();
  }
  EXPECT_EQ(SocketCount(), 0);
  EXPECT_FALSE(WinsockStarted());
  // The socket layer really is down: calls fail as before any start-up.
  EXPECT_EQ(plat::socket(AF_INET, SOCK_STREAM, 0), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANOTINITIALISED);

  TWSocket again(nullptr);
  EXPECT_TRUE(WinsockStarted());
  const plat::SOCKET h = plat::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(h, plat::INVALID_SOCKET);
  plat::closesocket(h);
}

TEST(SocketCoreTest, WinsockInfoStartsTheLayerWithoutAComponent) {
  ExpectNoSocketLeft();
  { TWSocket cleanup(nullptr); }  // whatever ran before, the layer is down now
  ASSERT_FALSE(WinsockStarted());
  const plat::WSADATA data = WinsockInfo();
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_NE(data.szDescription[0], '\0');
  EXPECT_TRUE(WinsockStarted());
  EXPECT_EQ(SocketCount(), 0);
  // The next component's end cleans up what WinsockInfo started.
  { TWSocket s(nullptr); }
  EXPECT_FALSE(WinsockStarted());
}

TEST(SocketCoreTest, WindowProcedureIgnoresWhatIsNotALiveSocket) {
  ExpectNoSocketLeft();
  TWSocket keepsClassRegistered(nullptr);
  // A window of the socket class holding some other component, and one holding nothing.
  TComponent stranger(nullptr);
  const plat::HWND foreign = plat::CreateWindowExA(0, "XSocketWindowClass", "", 0, 0, 0, 0, 0, 0,
                                                   nullptr, nullptr, nullptr);
  ASSERT_NE(foreign, 0u);
  plat::SetWindowLongA(foreign, 0,
                       reinterpret_cast<plat::LONG_PTR>(static_cast<TObject*>(&stranger)));
  EXPECT_EQ(plat::SendMessageA(foreign, WM_SOCKET_HOSTBYNAME, 1, 0),
            plat::DefWindowProcA(foreign, WM_SOCKET_HOSTBYNAME, 1, 0));
  plat::SetWindowLongA(foreign, 0, 0);
  EXPECT_EQ(plat::SendMessageA(foreign, WM_SOCKET_SELECT, 1, 0),
            plat::DefWindowProcA(foreign, WM_SOCKET_SELECT, 1, 0));
  plat::DestroyWindow(foreign);
}

TEST(SocketCoreTest, OtherMessagesGetTheDefaultResult) {
  ExpectNoSocketLeft();
  ProbeSocket s(nullptr);
  ASSERT_NE(s.FWindowHandle, 0u);
  for (plat::UINT msg : {plat::WM_NULL, plat::WM_TIMER, plat::WM_USER, plat::WM_USER + 4}) {
    EXPECT_EQ(plat::SendMessageA(s.FWindowHandle, msg, 7, 9),
              plat::DefWindowProcA(s.FWindowHandle, msg, 7, 9))
        << msg;
  }
}

TEST(SocketCoreTest, MessagesQueuedForADestroyedSocketTouchNothing) {
  ExpectNoSocketLeft();
  auto s = std::make_unique<ProbeSocket>(nullptr);
  int lookups = 0;
  s->OnDnsLookupDone = [&](TObject*, std::uint16_t) { ++lookups; };
  s->SetLookupHandle(42);  // a look-up that seems pending, answered by a queued message
  const plat::HWND window = s->FWindowHandle;
  ASSERT_TRUE(plat::PostMessageA(window, WM_SOCKET_HOSTBYNAME, 42, 0));
  ASSERT_TRUE(plat::PostMessageA(window, WM_SOCKET_SELECT, 1, plat::FD_READ));
  s->SetLookupHandle(0);
  s.reset();
  TCustomWSocket::ProcessMessages();
  EXPECT_EQ(lookups, 0);
}

TEST(SocketCoreTest, ChangeStateAlwaysFiresAndStopsTheAwaitedWait) {
  ExpectNoSocketLeft();
  ProbeSocket s(nullptr);
  std::vector<std::pair<TSocketState, TSocketState>> seen;
  s.OnChangeState = [&](TObject* sender, TSocketState o, TSocketState n) {
    EXPECT_EQ(sender, &s);
    seen.emplace_back(o, n);
  };
  s.ChangeState(wsClosed);
  s.ChangeState(wsOpened);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(wsClosed, wsClosed));
  EXPECT_EQ(seen[1], std::make_pair(wsClosed, wsOpened));
  EXPECT_EQ(s.State(), wsOpened);

  TWait wait(nullptr);
  int stops = 0;
  wait.OnWaitStop = [&](TObject*) { ++stops; };
  s.SetWaitCtrl(&wait);

  // Awaiting a connection: reaching it or falling back to closed both end the wait.
  s.FAwaitedState = wsConnected;
  s.ChangeState(wsConnecting);
  EXPECT_EQ(stops, 0);
  s.ChangeState(wsConnected);
  EXPECT_EQ(stops, 1);
  s.ChangeState(wsClosed);
  EXPECT_EQ(stops, 2);

  // Any other awaited state is ended only by itself.
  s.FAwaitedState = wsListening;
  s.ChangeState(wsClosed);
  s.ChangeState(wsBound);
  EXPECT_EQ(stops, 2);
  s.ChangeState(wsListening);
  EXPECT_EQ(stops, 3);

  // A socket in a thread of its own never touches the wait control.
  s.SetMultiThreaded(true);
  s.ChangeState(wsListening);
  EXPECT_EQ(stops, 3);
  s.SetWaitCtrl(nullptr);
}

TEST(SocketCoreTest, DestroyedWaitControlIsForgotten) {
  ExpectNoSocketLeft();
  TWSocket s(nullptr);
  auto wait = std::make_unique<TWait>(nullptr);
  s.SetWaitCtrl(wait.get());
  EXPECT_EQ(s.WaitCtrl(), wait.get());
  wait.reset();
  EXPECT_EQ(s.WaitCtrl(), nullptr);

  // Also when both belong to the same owner, whatever the order of destruction.
  TComponent owner(nullptr);
  auto* owned = new TWait(&owner);
  auto* sock = new TWSocket(&owner);
  sock->SetWaitCtrl(owned);
  delete owned;
  EXPECT_EQ(sock->WaitCtrl(), nullptr);
}

TEST(SocketCoreTest, SocketErrorTextAndOnError) {
  ExpectNoSocketLeft();
  ProbeSocket s(nullptr);
  plat::WSASetLastError(plat::WSAEINVAL);
  try {
    s.SocketError("Send");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Error 10022 in function Send\r\n" + WSocketErrorDesc(10022));
  }
  EXPECT_EQ(s.LastError(), 10022);

  int errors = 0;
  s.OnError = [&](TObject* sender) {
    EXPECT_EQ(sender, &s);
    ++errors;
  };
  plat::WSASetLastError(plat::WSAEMSGSIZE);
  EXPECT_NO_THROW(s.SocketError("Receive"));
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), plat::WSAEMSGSIZE);
  EXPECT_NO_THROW(s.RaiseExceptionFmt("%s: error #%d", {"x", 5}));
  EXPECT_EQ(errors, 2);
}

TEST(SocketCoreTest, RaiseExceptionFmtFormatsItsArguments) {
  ExpectNoSocketLeft();
  ProbeSocket s(nullptr);
  try {
    s.RaiseExceptionFmt("%s: can't start DNS lookup, error #%d (100%%)", {"host", 10055});
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "host: can't start DNS lookup, error #10055 (100%)");
  }
  // A format that does not fit its arguments is refused instead of reading past them.
  EXPECT_THROW(FormatArgs("%d %d", {1}), EConvertError);
  EXPECT_THROW(FormatArgs("%d", {"text"}), EConvertError);
  EXPECT_THROW(FormatArgs("%x", {1}), EConvertError);
  EXPECT_THROW(FormatArgs("50%", {}), EConvertError);
}

TEST(SocketCoreTest, ResetOrNotConnectedClosesBeforeReporting) {
  ExpectNoSocketLeft();
  for (int code : {plat::WSAECONNRESET, plat::WSAENOTCONN}) {
    ProbeSocket s(nullptr);
    const plat::SOCKET h = plat::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(h, plat::INVALID_SOCKET);
    s.FSocketHandle = h;
    s.FState = wsConnected;
    std::vector<std::string> order;
    s.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
      if (n == wsClosed) order.push_back("closed");
    };
    s.OnError = [&](TObject*) {
      order.push_back("error");
      EXPECT_EQ(s.State(), wsClosed);
    };
    plat::WSASetLastError(code);
    s.SocketError("Receive");
    EXPECT_EQ(order, (std::vector<std::string>{"closed", "error"}));
    EXPECT_EQ(s.FSocketHandle, plat::INVALID_SOCKET);
    EXPECT_EQ(s.LastError(), code);
    // The handle really was released.
    EXPECT_EQ(plat::closesocket(h), plat::SOCKET_ERROR);
  }
}

TEST(SocketCoreTest, SessionDefaultsComeBackButSettingsStay) {
  ExpectNoSocketLeft();
  ProbeSocket s(nullptr);
  TWait wait(nullptr);
  s.SetAddr("127.0.0.1");
  s.SetPort("8080");
  s.SetProto("udp");
  s.SetLingerOnOff(wsLingerOff);
  s.SetLingerTimeout(30);
  s.SetFlushTimeout(5);
  s.SetMultiThreaded(true);
  s.SetWaitCtrl(&wait);
  s.FSendFlagsValue = 1;
  s.FReadCount = 99;
  s.FCloseNotified = true;
  bool handler = false;
  s.OnDataSent = [&](TObject*, std::uint16_t) { handler = true; };

  s.AssignDefaultValue();  // what the end of every session does

  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.FSocketType, SOCK_STREAM);
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.LingerTimeout(), 0);
  EXPECT_EQ(s.FlushTimeout(), 60);
  EXPECT_EQ(s.ReadCount(), 0);
  EXPECT_FALSE(s.FCloseNotified);
  EXPECT_EQ(s.Addr(), "127.0.0.1");
  EXPECT_EQ(s.Port(), "8080");
  EXPECT_FALSE(s.FAddrAssigned);
  EXPECT_FALSE(s.FPortAssigned);
  EXPECT_EQ(s.SockAddr().sin_port, 0);
  EXPECT_TRUE(s.MultiThreaded());
  EXPECT_EQ(s.WaitCtrl(), &wait);
  EXPECT_EQ(s.FSendFlagsValue, 1);
  EXPECT_TRUE(static_cast<bool>(s.OnDataSent));
  // The same text is accepted again, since it no longer counts as assigned.
  s.SetPort("8080");
  s.SetAddr("127.0.0.1");
  EXPECT_TRUE(s.FPortAssigned);
  EXPECT_EQ(s.PortNum(), 8080);
  EXPECT_TRUE(s.FAddrAssigned);
  s.SetWaitCtrl(nullptr);
}

TEST(SocketCoreTest, DestroyedInsideItsOwnErrorHandler) {
  ExpectNoSocketLeft();
  auto* s = new ProbeSocket(nullptr);
  int errors = 0;
  s->OnError = [&](TObject* sender) {
    ++errors;
    delete static_cast<ProbeSocket*>(sender);
  };
  s->SetPort("no-such-service-here");  // reported through SocketError, then OnError
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(SocketCount(), 0);
}

TEST(SocketCoreTest, PublishedPropertiesInOrder) {
  ExpectNoSocketLeft();
  TWSocket s(nullptr);
  ASSERT_NE(s.Published(), nullptr);
  std::vector<std::string> names;
  for (const TPublishedProp* p : s.Published()->Properties()) names.push_back(p->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name",
                                             "Tag",
                                             "Addr",
                                             "Port",
                                             "Proto",
                                             "DnsResult",
                                             "State",
                                             "ReadCount",
                                             "RcvdCount",
                                             "LastError",
                                             "MultiThreaded",
                                             "OnDataAvailable",
                                             "OnDataSent",
                                             "OnSessionClosed",
                                             "OnSessionAvailable",
                                             "OnSessionConnected",
                                             "OnChangeState",
                                             "OnLineTooLong",
                                             "OnDnsLookupDone",
                                             "OnError",
                                             "FlushTimeout",
                                             "SendFlags",
                                             "LingerOnOff",
                                             "LingerTimeout",
                                             "ListenBacklog"}));
  const TPublishedProp* proto = s.Published()->FindProperty("Proto");
  ASSERT_NE(proto, nullptr);
  EXPECT_EQ(std::get<std::string>(proto->Get(s)), "tcp");
  proto->Set(s, std::string("udp"));
  EXPECT_EQ(s.Proto(), "udp");
}

}  // namespace
