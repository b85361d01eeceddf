(deftemplate t (slot x (type INTEGER) (default 0)) (multislot m))
(deffacts f (t (x 1) (m a b c)))
