// ATTACH lines of a calendar entry: inline base64 data written to a part
// file and decoded, or a file path copied into a part file.
#include <string.h>
#include "calread/vcs_parser.h"
#include "platform/platform.h"

#define ATTACH_NAME_MAX 1000
#define ATTACH_OUT_LINE 75  // base64 characters per line of the part file

static void AttachFileName(const char *params, char *name, size_t cap) {
    const char *found = strstr(params, "NAME=");
    if (found) {
        found += 5;
    } else if ((found = strstr(params, ";ID=")) != NULL) {
        found += 4;
    }
    if (!found) {
        com_strncpy(name, "No Name", cap - 1);
        return;
    }
    size_t n = strchr(found, ';') ? strcspn(found, ";") : strcspn(found, ":");
    if (n > ATTACH_NAME_MAX) n = ATTACH_NAME_MAX;
    if (n > cap - 1) n = cap - 1;
    memcpy(name, found, n);
    name[n] = 0;
    com_Remove_Quotes(name);
}

// Adds a part named `name`; its file name goes to path. 0 when no part could be had.
static int NewAttachPart(mdat *rec, const char *workDir, const char *name, char *path, size_t pathCap) {
    if (!com_AllocPart(rec)) return 0;
    com_PartFileName(workDir, rec, rec->partCount, path, pathCap);
    com_strncpy(rec->parts[rec->partCount]->name, name, BV_NAME_LEN - 1);
    rec->partCount++;
    return 1;
}

static void WriteBase64Lines(FILE *out, const char *text, int *failed) {
    for (size_t left = strlen(text); left > 0;) {
        size_t n = left < ATTACH_OUT_LINE ? left : ATTACH_OUT_LINE;
        if (fwrite(text, 1, n, out) != n || fputc('\n', out) == EOF) *failed = 1;
        text += n;
        left -= n;
    }
}

// Inline data: the parameters, then the value and its folded lines.
static void ReadInlineAttach(const char *workDir, mdat *rec, VcsFile *vf) {
    static char line[VCS_LOGICAL_LINE_MAX + 1];
    // Parameters folded before the colon: join them first.
    size_t length = strlen(gTextLine);
    while (!strchr(gTextLine, ':')) {
        int first = VcsPeekByte(vf);
        if (first != ' ' && first != '\t') break;
        size_t n = 0;
        VcsReadPhysical(vf, line, VCS_CONTINUATION_MAX, &n);
        line[strcspn(line, "\r")] = 0;
        n = strlen(line);
        if (length + n >= VCS_LOGICAL_LINE_MAX) break;
        memcpy(gTextLine + length, line + 1, n);
        length += n - 1;
    }
    const char *colon = strchr(gTextLine, ':');
    if (!strstr(gTextLine, "ENCODING=BASE64") || !colon) return;
    char name[ATTACH_NAME_MAX + 1];
    AttachFileName(gTextLine, name, sizeof name);
    char path[BV_PATH_LEN * 2];
    if (!NewAttachPart(rec, workDir, name, path, sizeof path)) return;
    FILE *out = plat_fopen(path, "wb");
    if (!out) {
        com_Log("BV Warning: cannot create attachment file %s", path);
        return;
    }
    int failed = 0;
    WriteBase64Lines(out, colon + 1, &failed);
    for (;;) {
        int first = VcsPeekByte(vf);
        if (first != ' ' && first != '\t') break;
        VcsReadPhysical(vf, line, VCS_LOGICAL_LINE_MAX, NULL);
        line[strcspn(line, "\r")] = 0;
        WriteBase64Lines(out, line + 1, &failed);
    }
    if (fclose(out) != 0) failed = 1;
    if (failed) com_Log("BV Warning: error writing attachment file %s", path);
    com_convert_base64(path, workDir);
}

// A path: copied from where it is, or from the attachment directory.
static void CopyAttachFile(const char *workDir, mdat *rec) {
    const char *value = gTextLine + 7;
    char fileName[BV_PATH_LEN];
    com_ExtractFileName(value, fileName, sizeof fileName);
    if (strncasecmp(fileName, "CID:", 4) == 0 || strncasecmp(value, "CID:", 4) == 0) return;
    char source[BV_PATH_LEN * 2];
    if (gAttachDir[0])
        bv_snprintf(source, sizeof source, "%s%s", gAttachDir, fileName);
    else
        com_strncpy(source, value, sizeof source - 1);
    char path[BV_PATH_LEN * 2];
    if (!NewAttachPart(rec, workDir, fileName, path, sizeof path)) return;
    if (com_fcopy(source, path) < 0) com_Log("BV Warning: attachment %s could not be copied", source);
}

extern "C" void ParseVcsAttach(const char *workDir, mdat *rec, VcsFile *vf) {
    if (strncmp(gTextLine, "ATTACH:", 7) == 0)
        CopyAttachFile(workDir, rec);
    else
        ReadInlineAttach(workDir, rec, vf);
}
