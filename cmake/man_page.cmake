# One manual page from its template in man/: the version filled in.
# Run by the build as cmake -DTEMPLATE=... -DPAGE=... -DTESLO_VERSION=... -P.
configure_file(${TEMPLATE} ${PAGE} @ONLY)
