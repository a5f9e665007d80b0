# The identity checks of paths, processes and pipe servers.
set(AREA_LIBS holvar_v3_identity)
