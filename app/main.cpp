#include "app/trustedkeys.h"
#include "app/updaterapp.h"

int main(int argc, char *argv[])
{
    int result;
    {
        UpdaterApp app(argc, argv);
        app.setTrustedKeys(trustedKeys());
        result = app.run();
    }
    return result;
}
