#pragma once
// Start-up of the desktop program.
namespace ravelin::app {
int runApplication(int argc, char** argv);
}
