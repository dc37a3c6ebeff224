// Carries the shared precompiled header of the test programs (see folivo_pch_holders).
int main() { return 0; }
