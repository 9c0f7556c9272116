#include "fuzz/fuzzsupport.h"
#include "update/manifestkeys.h"

#include <QUrl>

#include <cstring>

// Input: a remote name; or a remotePath value, a line feed and a remote name, resolved under a
// few fixed remote bases, and under the value when run() would accept it. The bytes count as
// UTF-8, and as UTF-16 code units unchanged: every QString, lone surrogates (JSON "\udc00") too.
namespace {
const QStringList fixedBases{QStringLiteral("https://updates.orvella.test/base/"), QStringLiteral("http://127.0.0.1:8080"),
                              QStringLiteral("https://user@updates.orvella.test:8443/a/b/?k=v"), QStringLiteral("file:///C:/updates")};

// The checks run() makes before it hands a value on.
bool isAcceptedRemotePath(const QString &value)
{
    const QUrl url(value, QUrl::TolerantMode);
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file")};
    return url.isValid() && QUrl(value + remoteFolder, QUrl::TolerantMode).authority() == url.authority()
            && schemes.contains(url.scheme(), Qt::CaseSensitive);
}

void resolveUnder(const QString &value, const QString &name)
{
    fuzzedApp().setRemotePath(value + remoteFolder);
    const QUrl base(value, QUrl::TolerantMode);
    const QUrl url = fuzzedApp().resolveRemoteUrl(name);
    const QString input = value + QLatin1String(" | ") + name;
    expect(url.isValid(), "a name resolves to a valid URL", input);
    expect(!url.path(QUrl::FullyDecoded).contains(QLatin1String("//")) && !url.path(QUrl::FullyEncoded).contains(QLatin1String("//")),
           "the resolved path holds no \"//\"", input);
    expect(url.scheme() == base.scheme() && url.host() == base.host() && url.port() == base.port()
                   && url.userInfo() == base.userInfo(), "the server is the base's", input);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString utf16(int(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), data, size_t(utf16.size()) * sizeof(QChar));
    for (const QString &input : {QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)), utf16}) {
        const int split = input.indexOf(QLatin1Char('\n'));
        for (const QString &base : fixedBases)
            resolveUnder(base, input.mid(split + 1));
        if (split >= 0 && isAcceptedRemotePath(input.left(split)))
            resolveUnder(input.left(split), input.mid(split + 1));
    }
    return 0;
}
