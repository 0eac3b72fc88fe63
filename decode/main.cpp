// quorvane-decode: the helper program that parses bytes from users' files on
// behalf of quorvane and quorvane-cli, in a process of its own with limits on
// time and memory (see imagefile/contained.h). Not meant to be run by hand.
#include "contained.h"
#include "imagefile.h"
#include "metadata.h"

int main(int argc, char** argv) {
    return ContainedHelperMain(argc, argv, {
                                               {"image", DecodeImageTask},
                                               {"metadata", ReadMetadataTask},
                                               {"recipe", ReadRecipeTask},
                                           });
}
