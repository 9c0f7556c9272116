#include "fuzz/fuzzsupport.h"
#include "update/manifestkeys.h"

#include <QStringList>
#include <QUrl>

// Input: a remote name; or a remotePath value, a line feed and a remote name. The
// name is resolved under a few fixed remote bases and under the given value when
// the command line would accept it.
namespace {

const QStringList &fixedBases()
{
    static const QStringList bases{
        QStringLiteral("https://updates.orvella.test/base"),
        QStringLiteral("https://updates.orvella.test/base/"),
        QStringLiteral("http://127.0.0.1:8080"),
        QStringLiteral("https://user@updates.orvella.test:8443/a/b/?k=v"),
        QStringLiteral("file:///C:/updates"),
        QStringLiteral("file:///srv/updates"),
    };
    return bases;
}

// The checks run() makes before it hands a value on.
bool isAcceptedRemotePath(const QString &value)
{
    const QUrl url(value, QUrl::TolerantMode);
    const QUrl base(value + remoteFolder, QUrl::TolerantMode);
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"),
                                     QStringLiteral("file")};
    return url.isValid() && base.authority() == url.authority()
            && schemes.contains(url.scheme(), Qt::CaseSensitive);
}

void resolveUnder(const QString &value, const QString &name)
{
    UpdaterApp &app = fuzzedApp();
    app.setRemotePath(value + remoteFolder);
    const QUrl base(value, QUrl::TolerantMode);
    const QUrl url = app.resolveRemoteUrl(name);
    const QString input = value + QLatin1String(" | ") + name;

    expect(url.isValid(), "a name resolves to a valid URL", input);
    expect(!url.path(QUrl::FullyDecoded).contains(QLatin1String("//"))
                   && !url.path(QUrl::FullyEncoded).contains(QLatin1String("//")),
           "the resolved path holds no \"//\"", input);
    expect(url.scheme() == base.scheme(), "the scheme is the base's", input);
    expect(url.host() == base.host(), "the host is the base's", input);
    expect(url.port() == base.port(), "the port is the base's", input);
    expect(url.userInfo() == base.userInfo(), "the user information is the base's", input);
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dropMessages();
    fuzzedApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (const QString &input : textsOf(data, size)) {
        const int split = input.indexOf(QLatin1Char('\n'));
        const QString name = input.mid(split + 1);
        for (const QString &base : fixedBases())
            resolveUnder(base, name);
        if (split >= 0) {
            const QString value = input.left(split);
            if (isAcceptedRemotePath(value))
                resolveUnder(value, name);
        }
    }
    return 0;
}
