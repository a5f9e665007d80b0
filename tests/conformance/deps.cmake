# The scenarios need only the OS boundary and the simulated machine.
set(AREA_LIBS holvar_platform)
