/* Compiled as C11: the public header must not use anything C++. */
#include "fast.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    SeqEntry e;
    memset(&e, 0, sizeof e);
    e.is_fasta = 1;
    if (sizeof(SeqEntry) != 64) {
        fprintf(stderr, "unexpected SeqEntry size %zu\n", sizeof(SeqEntry));
        return 1;
    }
    if (strcmp(FAST_VERSION_STRING, "") == 0) return 1;
    return e.is_fasta == 1 ? 0 : 1;
}
