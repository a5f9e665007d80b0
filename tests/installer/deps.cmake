# The front end runs the real drivers: the whole engine.
