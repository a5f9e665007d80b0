# The end-to-end tests drive the holvar-sim executable; of the engine they link
# only its name rules, which every demo payload must pass, of the tool its demo
# payloads, and the explanation's reading, to watch what it asks of a machine.
set(AREA_LIBS holvar_txn_plan holvar_sim_demo holvar_explain)
set(AREA_NEEDS_SIM_TOOL ON)
# Its files repeat names in their anonymous namespaces: compiled one by one.
set(AREA_UNITY OFF)
