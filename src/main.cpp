// Incompressible one-dimensional flow through a duct of linearly growing
// diameter, by the finite-volume method with SIMPLEC pressure correction.
// Reads dados.txt, writes saida.txt, u.dat and p.dat.

#include "control/principal.hpp"

int main() { return moody::principal(); }
