/* A small host program: makes a booklet of argv[1] in argv[2], or prints the page count when
 * only an input is given. */
#include <stdio.h>

#include <quirefold.h>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s INPUT [OUTPUT]\n", argv[0]);
        return 2;
    }
    quirefold_init();
    int pages = quirefold_page_count(argv[1]);
    if (pages < 0) {
        fprintf(stderr, "error: %s\n", quirefold_last_error());
        return 1;
    }
    printf("%s: %d pages (library %s)\n", argv[1], pages, QUIREFOLD_VERSION);
    if (argc == 3) {
        if (!quirefold_create(argv[1], argv[2])) {
            fprintf(stderr, "error: %s\n", quirefold_last_error());
            return 1;
        }
        printf("wrote %s\n", argv[2]);
    }
    quirefold_cleanup();
    return 0;
}
