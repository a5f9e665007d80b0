# The end-to-end tests drive the holvar-sim executable; of the engine they link
# only its name rules, which every demo payload must pass, and of the tool its
# demo payloads.
set(AREA_LIBS holvar_txn_plan holvar_sim_demo)
set(AREA_NEEDS_SIM_TOOL ON)
