#include "HttpSettings.h"

void THttpSettings::TakeCredentialsOf(const THttpCli& client) {
  Username = client.Username;
  Password = client.Password;
  AuthOrigin = client.AuthOrigin;
}

bool THttpSettings::SameCredentialsAs(const THttpCli& client) const {
  return Username == client.Username && Password == client.Password &&
         AuthOrigin == client.AuthOrigin;
}

void ApplyTo(const THttpSettings& settings, THttpCli& client) {
  client.RequestVersion = settings.RequestVersion;
  client.Agent = settings.Agent;
  client.Accept = settings.Accept;
  client.AcceptEncoding = settings.AcceptEncoding;
  client.Proxy = settings.Proxy;
  client.ProxyPort = settings.ProxyPort;
  client.ProxyUsername = settings.ProxyUsername;
  client.ProxyPassword = settings.ProxyPassword;
  client.Username = settings.Username;
  client.Password = settings.Password;
  client.AuthOrigin = settings.AuthOrigin;
  client.NoCache = settings.NoCache;
  client.Cookies = settings.Cookies;
  client.ExtraHeaders = settings.ExtraHeaders;
  client.SslCAFile = settings.SslCAFile;
  client.SslVerifyPeer = settings.SslVerifyPeer;
  client.MaxDocSize = settings.MaxDocSize;
  client.SetMultiThreaded(false);
}
