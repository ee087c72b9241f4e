/* A library that loads but has no PortOut: binding it must fail cleanly. */
__attribute__((visibility("default"))) int NotPortOut(void) {
    return 0;
}
