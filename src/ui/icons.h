#pragma once
// The program's pictures: freedesktop theme icons where the desktop has them,
// with our own pictures (carried as resources) on a bare machine.
#include <QIcon>

namespace ravelin::ui {

enum class Picture {
    NewCab,
    AddFiles,
    Compress,
    Encrypt,
    Organise,
    Wizard,
    Web,
    Help,
    Exit,
    Folder,
    Application,
};

// The icon for `picture`: the theme's icon when it has one, else ours.
QIcon picture(Picture picture);

// Our own picture only (the resource), whatever the theme.
QIcon ownPicture(Picture picture);

} // namespace ravelin::ui
