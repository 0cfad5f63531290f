#include "Host/Published.h"
#include "WSocket/WSocket.h"

// What the designer shows and form files keep. No property has a stored default, so every
// writable one is written. DnsResultList and WaitCtrl have no form-file representation.
const TPublishedClass& TWSocket::PublishedClass() {
  static const TPublishedClass* cls = [] {
    auto* c = new TPublishedClass("TWSocket", &TComponent::PublishedClass(),
                                  [](TComponent* AOwner) { return new TWSocket(AOwner); });
    const std::vector<std::string> states = {"wsInvalidState", "wsOpened",    "wsBound",
                                             "wsConnecting",   "wsConnected", "wsAccepting",
                                             "wsListening",    "wsClosed"};
    TPublish<TWSocket>(*c)
        .String("Addr", &TWSocket::Addr, &TWSocket::SetAddr)
        .String("Port", &TWSocket::Port, &TWSocket::SetPort)
        .String("Proto", &TWSocket::Proto, &TWSocket::SetProto)
        .String("DnsResult", &TWSocket::DnsResult)
        .Enum("State", "TSocketState", states, &TWSocket::State)
        .Integer("ReadCount", &TWSocket::ReadCount)
        // Reading it without an open socket reports an error, as the property itself does.
        .Integer("RcvdCount", &TWSocket::RcvdCount)
        .Integer("LastError", &TWSocket::LastError)
        .Boolean("MultiThreaded", &TWSocket::MultiThreaded, &TWSocket::SetMultiThreaded)
        .Event("OnDataAvailable", "TDataAvailable")
        .Event("OnDataSent", "TDataSent")
        .Event("OnSessionClosed", "TSessionClosed")
        .Event("OnSessionAvailable", "TSessionAvailable")
        .Event("OnSessionConnected", "TSessionConnected")
        .Event("OnChangeState", "TChangeState")
        .Event("OnLineTooLong", "TNotifyEvent")
        .Event("OnDnsLookupDone", "TDnsLookupDone")
        .Event("OnError", "TNotifyEvent")
        .Integer("FlushTimeout", &TWSocket::FlushTimeout, &TWSocket::SetFlushTimeout)
        .Enum("SendFlags", "TSocketSendFlags", {"wsSendNormal", "wsSendUrgent"},
              &TWSocket::SendFlags, &TWSocket::SetSendFlags)
        .Enum("LingerOnOff", "TSocketLingerOnOff", {"wsLingerOff", "wsLingerOn", "wsLingerNoSet"},
              &TWSocket::LingerOnOff, &TWSocket::SetLingerOnOff)
        .Integer("LingerTimeout", &TWSocket::LingerTimeout, &TWSocket::SetLingerTimeout)
        .Integer("ListenBacklog", &TWSocket::ListenBacklog, &TWSocket::SetListenBacklog);
    RegisterClass(c);
    return c;
  }();
  return *cls;
}

const TPublishedClass* TWSocket::Published() const {
  return &PublishedClass();
}
