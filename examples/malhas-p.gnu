# Pressão ao longo do duto em cada malha do estudo: malhas.dat, written by
# the grid study (convergence --grid), lists the grids; each grid's folder
# malha-N holds its p.dat (position and pressure, from the inlet's).  Run in
# the folder of the study: it draws malhas-p.png, one line per grid.
set encoding utf8
set terminal pngcairo size 800,500 font ",11"
set output 'malhas-p.png'
set title "Pressão ao longo do duto em cada malha"
set xlabel "Posição [m]"
set ylabel "Pressão [Pa]"
set grid
set key top left box opaque
stats 'malhas.dat' using 1 nooutput name "G"
grids = ""
do for [k = 0:G_records - 1] {
  stats 'malhas.dat' every ::k::k using 1 nooutput name "R"
  grids = grids . sprintf(" %d", R_min)
}
plot for [N in grids] 'malha-'.N.'/p.dat' using 1:2 with lines linewidth 2 title 'N = '.N
set output
