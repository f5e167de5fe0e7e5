#include <stdlib.h>

#include "bufmodel/bufmodel.h"

// Every record lives in the model's blocks: the blocks and the two tables go
// back in one sweep.
void BufModelRelease(BufModel *model)
{
    if (!model)
        return;
    free(model->pointTable);
    free(model->polyTable);
    model->pointTable = nullptr;
    model->polyTable = nullptr;
    model->pointRoom = model->polyRoom = 0;
    BufModelFreeBlocks(model);
}
