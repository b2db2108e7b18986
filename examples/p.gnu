# Pressão nodal ao longo do duto: p.dat holds position and pressure.
set encoding utf8
set terminal pngcairo size 800,500 font ",11"
set output 'p.png'
set title "Pressão nodal ao longo do duto"
set xlabel "Posição [m]"
set ylabel "Pressão [Pa]"
set grid
plot 'p.dat' using 1:2 with linespoints pointtype 7 pointsize 0.6 notitle
set output
