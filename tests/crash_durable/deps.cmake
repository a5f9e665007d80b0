# The durable write against the simulated machine's crash model.
set(AREA_LIBS holvar_txn_fs holvar_platform_sim)
