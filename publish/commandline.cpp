#include "publish/commandline.h"

#include "publish/console.h"
#include "update/updaterversion.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {
QString description()
{
    return QStringLiteral(
            "Publishes an update package into the folder that the Orvella Software Updater's\n"
            "--remotePath points at (DIR/pc/updates.json and the package beside it), with the\n"
            "updater's own rules; with --resign, signs the published manifest again with a new\n"
            "time and expiry; or, with --verify, checks what is published there.\n"
            "\n"
            "Exit codes:\n"
            "  0  published, or signed again; with --verify, an updater of version %1 would install the update\n"
            "  1  the command line is wrong\n"
            "  2  refused: the version, the Windows version rule, the package or its name\n"
            "  3  refused: updaters of version %1 or the published version are as recent, or\n"
            "     a package of that name with other bytes is published (--force publishes anyway);\n"
            "     --resign: the published updates.json is not signed by the key\n"
            "  4  reading or writing DIR failed\n"
            "  5  --verify: an updater of version %1 would not install an update\n"
            "  6  minisign could not sign the manifest\n"
            "  7  --verify: the signature of updates.json has expired (--resign renews it)\n"
            "Only a run that exits with 0 leaves DIR changed, but for one case: a package\n"
            "replaced with --force, and a signature, stay replaced when the manifest cannot\n"
            "be written.")
            .arg(updaterVersion);
}
}

bool parseCommandLine(const QStringList &arguments, PublishCommand &command)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    const QCommandLineOption remoteOption(QStringLiteral("remote"),
            QStringLiteral("The folder that users' --remotePath points at; the update goes into its folder pc."),
            QStringLiteral("DIR"));
    const QCommandLineOption packageOption(QStringLiteral("package"),
            QStringLiteral("The package file to publish."), QStringLiteral("FILE"));
    // "--version" names the version to publish, so the tool's own version has another name.
    const QCommandLineOption versionOption(QStringLiteral("version"),
            QStringLiteral("The version to publish the package as, such as 2.1 or 2.0.1702011200."),
            QStringLiteral("V"));
    const QCommandLineOption osVersionOption(QStringLiteral("os-version"),
            QStringLiteral("The Windows versions the update is for: any, 7, 8, 8.1 or 10, optionally followed by + (or more recent) or - (or older)."),
            QStringLiteral("RULE"));
    const QCommandLineOption forceOption(QStringLiteral("force"),
            QStringLiteral("Publish even when V is not more recent than the updater's own or the published version, or replace a published package of the same name."));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
            QStringLiteral("Instead of publishing, check the published manifest and package as an updater of version %1 would.")
                    .arg(updaterVersion));
    const QCommandLineOption signKeyOption(QStringLiteral("sign-key"),
            QStringLiteral("Sign updates.json with minisign and this secret key (made with minisign -G); "
                           "minisign asks for its password, if it has one."),
            QStringLiteral("FILE"));
    const QCommandLineOption publicKeyOption(QStringLiteral("public-key"),
            QStringLiteral("With --verify: check the signature of updates.json against this minisign public key "
                           "(the RW... text, or a .pub file), as an updater that trusts it does."),
            QStringLiteral("KEY"));
    const QCommandLineOption rolloutOption(QStringLiteral("rollout"),
            QStringLiteral("Offer the version to this percent of installs only, 0 to 100 (fractions allowed): "
                           "raise it to roll out further, 0 halts. Republishing the published version and "
                           "package with another rollout needs no --force."),
            QStringLiteral("PERCENT"));
    const QCommandLineOption expiresOption(QStringLiteral("expires"),
            QStringLiteral("With --sign-key: the signature holds for DAYS days (at least 1, at most 36500; "
                           "default 30), after which updaters refuse it; re-sign well before."),
            QStringLiteral("DAYS"), QStringLiteral("30"));
    const QCommandLineOption resignOption(QStringLiteral("resign"),
            QStringLiteral("Instead of publishing, sign the published updates.json again with --sign-key, "
                           "with a new time and expiry, changing no other file. Only a manifest that the same "
                           "key signed before is signed again (minisign asks twice for a password)."));
    const QCommandLineOption toolVersionOption({QStringLiteral("v"), QStringLiteral("tool-version")},
            QStringLiteral("Displays the tool's version information."));
    parser.addOptions({remoteOption, packageOption, versionOption, osVersionOption, forceOption,
                       rolloutOption, signKeyOption, expiresOption, resignOption, verifyOption, publicKeyOption,
                       toolVersionOption});
    const QCommandLineOption helpOption = parser.addHelpOption();

    if (!parser.parse(arguments)) {
        printProblem(parser.errorText() + QLatin1String(" (see --help)"));
        return false;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(toolVersionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        printProblem(QStringLiteral("Unexpected argument: %1 (see --help)")
                             .arg(parser.positionalArguments().first()));
        return false;
    }
    if (!parser.isSet(remoteOption)) {
        printProblem(QStringLiteral("Missing --remote DIR: the folder to publish into (see --help)."));
        return false;
    }

    command.remoteDir = parser.value(remoteOption);
    command.verify = parser.isSet(verifyOption);
    if (command.verify) {
        for (const QCommandLineOption &option : {packageOption, versionOption, osVersionOption, forceOption,
                                                 rolloutOption, signKeyOption, expiresOption, resignOption}) {
            if (parser.isSet(option)) {
                printProblem(QStringLiteral("--verify only checks; it takes no --%1.").arg(option.names().first()));
                return false;
            }
        }
        command.publicKey = parser.value(publicKeyOption);
        return true;
    }
    if (parser.isSet(publicKeyOption)) {
        printProblem(QStringLiteral("--public-key only goes with --verify (see --help)."));
        return false;
    }
    bool whole = false;
    command.expiresDays = parser.value(expiresOption).toInt(&whole);
    if (!whole || command.expiresDays < 1 || command.expiresDays > 36500) {
        printProblem(QStringLiteral("--expires takes a whole number of days from 1 to 36500 (see --help)."));
        return false;
    }
    command.signKeyPath = parser.value(signKeyOption);
    if (parser.isSet(expiresOption) && command.signKeyPath.isEmpty()) {
        printProblem(QStringLiteral("--expires only goes with --sign-key (see --help)."));
        return false;
    }
    command.resign = parser.isSet(resignOption);
    if (command.resign) {
        for (const QCommandLineOption &option : {packageOption, versionOption, osVersionOption, forceOption, rolloutOption}) {
            if (parser.isSet(option)) {
                printProblem(QStringLiteral("--resign only signs again; it takes no --%1.").arg(option.names().first()));
                return false;
            }
        }
        if (command.signKeyPath.isEmpty()) {
            printProblem(QStringLiteral("--resign needs --sign-key FILE (see --help)."));
            return false;
        }
        return true;
    }
    if (!parser.isSet(packageOption) || !parser.isSet(versionOption)) {
        printProblem(QStringLiteral("Publishing needs --package FILE and --version V (see --help)."));
        return false;
    }
    command.packagePath = parser.value(packageOption);
    command.version = parser.value(versionOption);
    command.hasOsRule = parser.isSet(osVersionOption);
    command.osRule = parser.value(osVersionOption);
    command.force = parser.isSet(forceOption);
    command.rollout = parser.value(rolloutOption);
    return true;
}
