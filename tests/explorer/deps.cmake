# The explorer runs whole transactions through the engine, as holvar-sim's
# `explore` does: the scenarios, the walk and the checks are the tool's.
set(AREA_LIBS holvar_sim_tool)
set(AREA_ALSO holvar_fast_malloc)
# The walks' tests and their breakages name their own tables alike.
set(AREA_UNITY OFF)
