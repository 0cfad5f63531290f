#include "Host/Published.h"
#include "HttpProt/HttpCli.h"

// What the designer shows and form files keep. No property has a stored default but
// those added later (Timeout, MaxRelocations, the TLS settings, the time bounds), so that forms
// written before they existed read and write unchanged.
const TPublishedClass& THttpCli::PublishedClass() {
  static const TPublishedClass* cls = [] {
    auto* c = new TPublishedClass("THttpCli", &TComponent::PublishedClass(),
                                  [](TComponent* AOwner) { return new THttpCli(AOwner); });
    TPublish<THttpCli>(*c)
        .String("URL", &THttpCli::URL, &THttpCli::SetURL)
        .String("Proxy", &THttpCli::Proxy, &THttpCli::SetProxy)
        .String("ProxyPort", &THttpCli::ProxyPort, &THttpCli::SetProxyPort)
        .String("Sender", &THttpCli::Sender, &THttpCli::SetSender)
        .String("Agent", &THttpCli::Agent, &THttpCli::SetAgent)
        .String("Reference", &THttpCli::Reference, &THttpCli::SetReference)
        .String("Username", &THttpCli::Username, &THttpCli::SetUsername)
        .String("Password", &THttpCli::Password, &THttpCli::SetPassword)
        .String("ProxyUsername", &THttpCli::ProxyUsername, &THttpCli::SetProxyUsername)
        .String("ProxyPassword", &THttpCli::ProxyPassword, &THttpCli::SetProxyPassword)
        .Boolean("NoCache", &THttpCli::NoCache, &THttpCli::SetNoCache)
        .Double("ModifiedSince", "TDateTime", &THttpCli::ModifiedSince, &THttpCli::SetModifiedSince)
        .String("Cookie", &THttpCli::Cookie, &THttpCli::SetCookie)
        .String("ContentTypePost", &THttpCli::ContentTypePost, &THttpCli::SetContentTypePost)
        .Boolean("MultiThreaded", &THttpCli::MultiThreaded, &THttpCli::SetMultiThreaded)
        .Integer("Timeout", &THttpCli::Timeout, &THttpCli::SetTimeout)
        .Default(0)
        .Integer("MaxRelocations", &THttpCli::MaxRelocations, &THttpCli::SetMaxRelocations)
        .Default(20)
        .Integer("LowSpeedLimit", &THttpCli::LowSpeedLimit, &THttpCli::SetLowSpeedLimit)
        .Default(0)
        .Integer("LowSpeedTime", &THttpCli::LowSpeedTime, &THttpCli::SetLowSpeedTime)
        .Default(0)
        .Integer("MaxTime", &THttpCli::MaxTime, &THttpCli::SetMaxTime)
        .Default(0)
        .String("SslCAFile", &THttpCli::SslCAFile, &THttpCli::SetSslCAFile)
        .Default(std::string())
        .String("SslCAPath", &THttpCli::SslCAPath, &THttpCli::SetSslCAPath)
        .Default(std::string())
        .Boolean("SslUnsafeSkipVerify", &THttpCli::SslUnsafeSkipVerify,
                 &THttpCli::SetSslUnsafeSkipVerify)
        .Default(false)
        .Boolean("AllowHttpsDowngrade", &THttpCli::AllowHttpsDowngrade,
                 &THttpCli::SetAllowHttpsDowngrade)
        .Default(false)
        .Event("OnTrace", "TNotifyEvent")
        .Event("OnSessionConnected", "TNotifyEvent")
        .Event("OnHeaderData", "TNotifyEvent")
        .Event("OnCommand", "TOnCommand")
        .Event("OnHeaderBegin", "TNotifyEvent")
        .Event("OnHeaderEnd", "TNotifyEvent")
        .Event("OnRequestHeaderBegin", "TNotifyEvent")
        .Event("OnRequestHeaderEnd", "TNotifyEvent")
        .Event("OnDocBegin", "TNotifyEvent")
        .Event("OnDocData", "TDocDataEvent")
        .Event("OnDocEnd", "TNotifyEvent")
        .Event("OnSendBegin", "TNotifyEvent")
        .Event("OnSendData", "TDocDataEvent")
        .Event("OnSendEnd", "TNotifyEvent")
        .Event("OnStateChange", "TNotifyEvent")
        .Event("OnRequestDone", "THttpRequestDone")
        .Event("OnLocationChange", "TNotifyEvent");
    RegisterClass(c);
    return c;
  }();
  return *cls;
}

const TPublishedClass* THttpCli::Published() const {
  return &PublishedClass();
}
