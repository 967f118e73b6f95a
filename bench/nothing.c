/* A Windows program that only starts and ends: the floor the program is measured against under
 * Wine. */
int main(void) {
    return 0;
}
