// Carries the shared precompiled header of the libraries (see folivo_pch_holders); no code.
