// Publishes N boxes as a fresh process does: argv[1] is N. Exit code: PublishStorageBoxes' result.
#include "storage_box.h"

#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 0;
    std::vector<STORAGE_BOX_RECORD> boxes(static_cast<size_t>(count > 0 ? count : 0));
    for (size_t i = 0; i < boxes.size(); ++i) {
        boxes[i] = {};
        boxes[i].Value.SequenceNumber = static_cast<uint8_t>(i + 1);
        if (InsertStorageBox(&boxes[i]) != 0 || MarkStorageBoxPublished(&boxes[i]) != 0)
            return 100;
    }
    return static_cast<int>(PublishStorageBoxes());
}
