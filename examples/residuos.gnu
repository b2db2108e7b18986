# Resíduos da iteração externa: residuos.dat, written by the convergence
# tool, holds the pass, the mass, velocity and pressure residuals and the
# outlet pressure.  Log scale; passes whose residual is zero are left out.
set encoding utf8
set terminal pngcairo size 800,500 font ",11"
set output 'residuos.png'
set title "Resíduos da iteração externa"
set xlabel "Iteração"
set ylabel "Resíduo relativo"
set logscale y
set format y "10^{%L}"
set grid
plot 'residuos.dat' using 1:2 with lines linewidth 1.5 title "massa", \
     '' using 1:3 with lines linewidth 1.5 title "velocidade", \
     '' using 1:4 with lines linewidth 1.5 title "pressão"
set output
