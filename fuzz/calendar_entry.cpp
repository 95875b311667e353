// libFuzzer harness: the calendar entry parser on arbitrary bytes, every
// entry of the file in turn (lines, unfolding, quoted-printable, zones,
// attendees, attachments written to part files), as the source loop reads them.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include "calread/vcs_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char workDir[64];
    static mdat *record;
    if (!record) {
        strcpy(workDir, "/tmp/bvfuzz-vcs-XXXXXX");
        if (!mkdtemp(workDir)) return 0;
        strcat(workDir, "/");
        bvcom_SetWorkDir(workDir);
        record = (mdat *)calloc(1, sizeof(mdat));
        gD159Text[0] = 0;
    }
    FILE *file = fmemopen((void *)data, size, "rb");
    if (!file) return 0;
    VcsFile vf;
    static VcsZoneIndex zones;
    memset(&zones, 0, sizeof zones);
    if (VcsOpen(&vf, file)) {
        for (int entries = 0; entries < 100000; entries++) {
            VcsEntry entry;
            ResetEntryExtras();
            com_ResetObject(record);
            int result = parse_vcs_entry(&vf, record, workDir, &entry, 1, &zones);
            com_Deallocate_All(record, workDir);
            com_Deallocate(record, workDir);
            if (result == 1) break;
        }
        VcsClose(&vf);
    }
    fclose(file);
    ResetEntryExtras();
    return 0;
}
