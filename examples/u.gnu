# Velocidade nodal ao longo do duto: u.dat holds position and velocity.
set encoding utf8
set terminal pngcairo size 800,500 font ",11"
set output 'u.png'
set title "Velocidade nodal ao longo do duto"
set xlabel "Posição [m]"
set ylabel "Velocidade [m/s]"
set grid
plot 'u.dat' using 1:2 with linespoints pointtype 7 pointsize 0.6 notitle
set output
