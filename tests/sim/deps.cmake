# The simulated machine is tested on its own: no engine module is linked.
set(AREA_LIBS holvar_platform_sim)
