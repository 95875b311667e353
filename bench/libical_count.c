/* The peer of the calendar benchmark: libical's parser reads the whole
 * calendar into its component tree, and the VEVENTs are counted; with a
 * second argument the tree is also written out as iCalendar text, as a
 * migration reads and writes. */
#include <libical/ical.h>
#include <stdio.h>

static char *ReadLine(char *buf, size_t size, void *file) { return fgets(buf, (int)size, (FILE *)file); }

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    FILE *file = fopen(argv[1], "r");
    if (!file) return 1;
    icalparser *parser = icalparser_new();
    icalparser_set_gen_data(parser, file);
    icalcomponent *root = icalparser_parse(parser, ReadLine);
    int events = 0;
    for (icalcomponent *c = root ? icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT) : NULL; c;
         c = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT))
        events++;
    int status = 0;
    if (argc > 2 && root) {
        FILE *out = fopen(argv[2], "w");
        char *text = icalcomponent_as_ical_string(root);
        if (!out || fputs(text, out) == EOF) status = 1;
        if (out && fclose(out) != 0) status = 1;
    }
    printf("%d\n", events);
    if (root) icalcomponent_free(root);
    icalparser_free(parser);
    fclose(file);
    return status;
}
