// Carries the shared precompiled headers (see folivo_pch_holders in Folivo.cmake); no code.
#ifdef FOLIVO_PCH_HOLDER_MAIN
int main() { return 0; }
#endif
