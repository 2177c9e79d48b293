// The build's version as text inside the library file itself, so that a tool holding only the
// file (cvcal's config show) can tell which build it is: "CVAICP-VERSION " and the version, up
// to a NUL. The Windows build has its version resource as well, which is what Explorer shows.
// Defined with external linkage so that nothing drops it; no export table names it.
extern "C" {
extern const char cvaicp_version_mark[];
__attribute__((used)) const char cvaicp_version_mark[] = "CVAICP-VERSION " CVAICP_VERSION;
}
