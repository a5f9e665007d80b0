# The explorer runs whole transactions through the engine, as holvar-sim's
# `explore` does: the scenarios, the walk and the checks are the tool's.
set(AREA_LIBS holvar_sim_tool)
