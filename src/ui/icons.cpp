#include "ui/icons.h"

namespace ravelin::ui {

namespace {
struct Entry {
    const char* themeName;
    const char* resource;
};

Entry entryFor(Picture p)
{
    switch (p) {
    case Picture::NewCab:
        return {"document-new", ":/icons/newcab.png"};
    case Picture::AddFiles:
        return {"list-add", ":/icons/addfiles.png"};
    case Picture::Compress:
        return {"package-x-generic", ":/icons/compress.png"};
    case Picture::Encrypt:
        return {"dialog-password", ":/icons/encrypt.png"};
    case Picture::Organise:
        return {"system-search", ":/icons/organise.png"};
    case Picture::Wizard:
        return {"system-software-install", ":/icons/wizard.png"};
    case Picture::Web:
        return {"applications-internet", ":/icons/web.png"};
    case Picture::Help:
        return {"help-browser", ":/icons/help.png"};
    case Picture::Exit:
        return {"application-exit", ":/icons/exit.png"};
    case Picture::Folder:
        return {"folder", ":/icons/folder.png"};
    case Picture::Application:
        return {"ravelin", ":/icons/ravelin.png"};
    }
    return {"", ""};
}
} // namespace

QIcon picture(Picture p)
{
    if (p == Picture::Application) {
        QIcon own;
        for (const char* file : {":/icons/ravelin.png", ":/icons/ravelin-48.png", ":/icons/ravelin-256.png"})
            own.addFile(QString::fromLatin1(file));
        return QIcon::fromTheme(QStringLiteral("ravelin"), own);
    }
    const Entry e = entryFor(p);
    return QIcon::fromTheme(QString::fromLatin1(e.themeName), QIcon(QString::fromLatin1(e.resource)));
}

QIcon ownPicture(Picture p)
{
    return QIcon(QString::fromLatin1(entryFor(p).resource));
}

} // namespace ravelin::ui
