#include "app/AppInfo.h"
#include "gui/fCover.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", qPrintable(dh::programTitle()), qPrintable(dh::programVersion()));
            return 0;
        }
    }
    QApplication app(argc, argv);
    dh::fCover cover;
    cover.show();
    return app.exec();
}
