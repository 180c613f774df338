// The picture export program: pick bitmap files, get a word-processor document with
// one table row per picture.

#include "app/application.h"

int main(int argc, char** argv)
{
    return RunPictureProgram(argc, argv);
}
