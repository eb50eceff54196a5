#include "cli/entry.h"

int main(int argc, char** argv)
{
    return shmpeek_main(argc, argv);
}
