#include "app/Application.h"

int main(int argc, char** argv)
{
    return tarnwick::runApplication(argc, argv);
}
