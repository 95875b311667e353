// contacts_gen: writes an Outlook-style contact CSV file of N generated
// contacts (CRLF lines, quoted fields, some notes spanning lines), for the
// contact benchmark.
//
//   contacts_gen COUNT OUT.csv [SEED]
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char *const kFirst[] = {"Anna", "Bernd", "Chloé", "David", "Eva", "Frank", "Gustav", "Hanna", "Ivan", "Jürgen"};
const char *const kLast[] = {"Adams", "Berg", "Castro", "Dahl", "Engel", "Fischer", "Garcia", "Huber", "Ito", "Jones"};
const char *const kCity[] = {"Berlin", "Boston", "Lyon", "Osaka", "Porto", "Zürich"};
const char *const kCompany[] = {"Acme Corp", "Globex", "Initech", "Umbrella \"East\"", "Vandelay, Inc."};

unsigned long gState;
unsigned long Next() {
    gState = gState * 6364136223846793005UL + 1442695040888963407UL;
    return gState >> 33;
}
template <size_t N>
const char *Pick(const char *const (&list)[N]) {
    return list[Next() % N];
}

// A CSV field: quoted, inner quotes doubled.
std::string Quote(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: contacts_gen COUNT OUT.csv [SEED]\n");
        return 2;
    }
    long count = strtol(argv[1], nullptr, 10);
    gState = argc > 3 ? strtoul(argv[3], nullptr, 10) : 1;
    FILE *out = fopen(argv[2], "wb");
    if (!out) {
        fprintf(stderr, "contacts_gen: cannot write %s\n", argv[2]);
        return 1;
    }
    fputs("\"First Name\",\"Middle Name\",\"Last Name\",\"E-mail Address\",\"Company\",\"Job Title\","
          "\"Business Street\",\"Business City\",\"Business Postal Code\",\"Business Country\",\"Business Phone\","
          "\"Mobile Phone\",\"Home Phone\",\"Birthday\",\"Notes\"\r\n",
          out);
    for (long i = 0; i < count; i++) {
        std::string first = Pick(kFirst), last = Pick(kLast);
        std::string email = first + "." + last + "." + std::to_string(i) + "@example.com";
        for (char &c : email)
            if ((unsigned char)c >= 0x80) c = 'x';
        std::string notes;
        if (i % 7 == 0) notes = "Met at the fair.\r\nCall back \"soon\", please.";
        else if (i % 3 == 0) notes = "Customer since " + std::to_string(1990 + (long)(Next() % 30));
        char birthday[32];
        snprintf(birthday, sizeof(birthday), "%lu-%02lu-%02lu", 1950 + Next() % 50, 1 + Next() % 12, 1 + Next() % 28);
        std::string row = Quote(first) + "," + (i % 5 == 0 ? "\"M.\"" : "\"\"") + "," + Quote(last) + "," +
                          Quote(email) + "," + Quote(Pick(kCompany)) + "," + Quote("Engineer") + "," +
                          Quote(std::to_string(1 + Next() % 999) + " Main St") + "," + Quote(Pick(kCity)) + "," +
                          Quote(std::to_string(10000 + Next() % 89999)) + "," + Quote("Germany") + "," +
                          Quote("+49 30 " + std::to_string(1000000 + Next() % 8999999)) + "," +
                          Quote("+49 170 " + std::to_string(1000000 + Next() % 8999999)) + ",\"\"," +
                          Quote(birthday) + "," + Quote(notes) + "\r\n";
        fputs(row.c_str(), out);
    }
    return fclose(out) == 0 ? 0 : 1;
}
