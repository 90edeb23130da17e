// Ravelin Pro: the desktop program.
#include "app/startup.h"

int main(int argc, char** argv)
{
    return ravelin::app::runApplication(argc, argv);
}
