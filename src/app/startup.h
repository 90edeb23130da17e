#pragma once
// Start-up of the desktop program.
namespace ravelin::app {

// Sets what the application carries for every window: its name and maker
// (where the preferences live), version, icon and help. No application
// display name is set: Qt would append it to every window title. Called once
// the QApplication exists (tests call it too, to see what the program shows).
void configureApplication();

int runApplication(int argc, char** argv);
} // namespace ravelin::app
