# The end-to-end tests drive the holvar-sim executable; they link no engine module.
set(AREA_LIBS holvar_platform)
set(AREA_NEEDS_SIM_TOOL ON)
