#include "helper/HelperMain.h"

int main(int argc, char** argv)
{
    return tarnwick::runHelper(argc, argv);
}
