#include "ServiceAddress.h"

#include "ZedazidEdize.h"

#include <QHostAddress>

namespace {

const QString notAnAddress =
    QStringLiteral("The transcription service address is not a valid web address.");
const QString notPrivate = QStringLiteral(
    "Wispen only sends recordings over https, or over http to a service on this computer.");
const QString hasCredentials =
    QStringLiteral("The transcription service address must not contain a user name or password.");
const QString hasQuery =
    QStringLiteral("The transcription service address must not contain a query or a fragment.");

// Names and addresses that never leave this machine. Other names are refused even
// if they resolve to loopback today: resolution can change, the rule must not.
bool isLoopbackHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QUrl& configured() {
    static QUrl url = ServiceAddress::accept(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
    return url;
}

} // namespace

namespace ServiceAddress {

QUrl baseUrl() {
    return configured();
}

QUrl accept(const QString& text) {
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        throw ZedazidEdize::message(notAnAddress);
    const QString scheme = url.scheme().toLower();
    const bool secure = scheme == QLatin1String("https");
    if (!secure && !(scheme == QLatin1String("http") && isLoopbackHost(url.host())))
        throw ZedazidEdize::message(notPrivate);
    if (!url.userInfo().isEmpty())
        throw ZedazidEdize::message(hasCredentials);
    if (url.hasQuery() || url.hasFragment())
        throw ZedazidEdize::message(hasQuery);

    // A base path is kept ("https://host/wispen"), without the trailing slash, so
    // that the endpoint's path can simply be appended.
    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path, QUrl::TolerantMode);
    url.setScheme(scheme);
    return url;
}

void configure(const QString& text) {
    configured() = accept(text);
}

} // namespace ServiceAddress
