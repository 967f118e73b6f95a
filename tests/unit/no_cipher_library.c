/* A shared library that is not the cipher library: it has neither of the cipher's exports. */
int SomethingElse(void) {
    return 0;
}
