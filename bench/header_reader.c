/* The least a reindex of a calendar folder must do, as a process of its own: list the folder and
 * read each item file's header lines, as fgets reads them, up to the empty line. The period files
 * (".CAL"), the store's own files ("_...") and the backups are left out, as the scan leaves them.
 * Prints the number of item files read. Usage: header_reader FOLDER */
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

static int is_item(const char* name) {
    size_t length = strlen(name);
    if (name[0] == '.' || name[0] == '_') return 0;
    return length < 4 || (strcasecmp(name + length - 4, ".CAL") != 0 &&
                          strcasecmp(name + length - 4, ".BAK") != 0);
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    DIR* dir = opendir(argv[1]);
    if (dir == NULL) return 1;
    char path[4096], line[2048];
    int read = 0;
    volatile char sink = 0;
    for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
        if (!is_item(entry->d_name)) continue;
        snprintf(path, sizeof path, "%s/%s", argv[1], entry->d_name);
        FILE* file = fopen(path, "rb");
        if (file == NULL) continue;
        while (fgets(line, sizeof line, file) != NULL && line[0] != '\r' && line[0] != '\n') {
            sink ^= line[0];
        }
        fclose(file);
        ++read;
    }
    closedir(dir);
    printf("%d\n", read);
    return 0;
}
