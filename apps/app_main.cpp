#include "app/Application.h"
#include "ui/windows/DesktopFrontend.h"

int main(int argc, char** argv)
{
    return tarnwick::runApplication(argc, argv, tarnwick::DesktopFrontend::hooks());
}
