#include "controller/modulebuffer.h"

CommandBuffer &moduleCommandBuffer()
{
    static CommandBuffer buffer;
    return buffer;
}
