#ifndef EXITCODES_H
#define EXITCODES_H

// What the publishing tool's exit code tells a release script.
enum ExitCode {
    Success = 0,          // published; or --verify: an updater would install the update
    UsageError = 1,       // the command line is wrong
    InputRefused = 2,     // the version, the Windows rule, the package or its name is unusable
    ConflictRefused = 3,  // the updaters or the published update are as recent, or its package differs (--force);
                          // --resign: the published manifest is not signed by the key
    WriteFailed = 4,      // the remote folder could not be written
    NoUpdateOffered = 5,  // --verify: an updater would not install an update
    SigningFailed = 6,    // minisign could not sign the manifest
    SignatureExpired = 7, // --verify: the signature has expired, and --resign renews it
};

#endif
