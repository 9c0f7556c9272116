#include "app/updaterapp.h"

int main(int argc, char *argv[])
{
    int result;
    {
        UpdaterApp app(argc, argv);
        result = app.run();
    }
    return result;
}
